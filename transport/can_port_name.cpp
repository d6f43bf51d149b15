#include "can_port_name.h"

bool can_port_name::parse(const QString& text, can_port_name& out)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon <= 0 || colon + 1 >= text.size() || !text.at(0).isLower())
        return false;
    for (int k = 0; k < colon; ++k) {
        const QChar c = text.at(k);
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            return false;
    }
    out.plugin = text.left(colon);
    out.interface_name = text.mid(colon + 1);
    return true;
}
