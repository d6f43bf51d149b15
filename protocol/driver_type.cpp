#include "driver_type.h"

QString driver_type::name(int32_t t)
{
    switch (t) {
    case ns:
        return QStringLiteral("NS Type");
    case ps:
        return QStringLiteral("PS Type");
    case cw:
        return QStringLiteral("CW Type");
    case precision_cw:
        return QStringLiteral("Precision CW Type");
    case power_dcdc:
        return QStringLiteral("Power DCDC Type");
    case soa_ns:
        return QStringLiteral("SOA NS Type");
    default:
        return QString();
    }
}
