#include "csv_row_format.h"

#include "channel_reading.h"
#include "driver_type.h"
#include "wire_decimals.h"

#include <cmath>
#include <limits>

namespace {

// Set-point columns come last: files read by column position before they
// were added still find every column where it was.
const char* const columns =
    "time_utc,elapsed_s,channel,name,can_id,type,emission,current_mA,current_A,temperature_C,power_mW,"
    "voltage_V,input_voltage_V,output_voltage_V,frequency_kHz,pulse_width_ns,mode,warning_flags,fault_flags,"
    "current_set_mA,current_set_A,temperature_set_C,voltage_set_V,frequency_set_kHz,pulse_width_set_ns\n";
constexpr int column_count = 25;

QByteArray hex_flags(uint16_t flags)
{
    return "0x" + QByteArray::number(flags, 16).toUpper().rightJustified(4, '0');
}

} // namespace

QByteArray csv_row_format::header()
{
    return QByteArray(columns);
}

QByteArray csv_row_format::field(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.contains(',') || utf8.contains('"') || utf8.contains('\n') || utf8.contains('\r'))
        return '"' + utf8.replace('"', "\"\"") + '"';
    return utf8;
}

QByteArray csv_row_format::number(double v, int decimals)
{
    if (!channel_reading::has(v) || decimals < 0)
        return QByteArray();
    // The boards' values are kept as floats. Where a float's steps are finer
    // than the last decimal, rounding gives the board's value; where not, the
    // shortest decimal that gives the same float is it (1234.57, not 1234.5699).
    if (std::fabs(v) * std::numeric_limits<float>::epsilon() < 0.5 * std::pow(10.0, -decimals))
        return QByteArray::number(v, 'f', decimals);
    const float stored = float(v);
    for (int d = 0; d < decimals; ++d) {
        const QByteArray shorter = QByteArray::number(v, 'f', d);
        if (float(shorter.toDouble()) == stored)
            return QByteArray::number(shorter.toDouble(), 'f', decimals);
    }
    return QByteArray::number(v, 'f', decimals);
}

QByteArray csv_row_format::row(const channel_reading& r, const QDateTime& utc, double elapsed_s)
{
    QByteArrayList f;
    f << utc.toUTC().toString(Qt::ISODateWithMs).toLatin1() << QByteArray::number(elapsed_s, 'f', 3)
      << QByteArray::number(r.channel) << field(r.name) << QByteArray::number(r.can_id)
      << (r.present ? field(r.type_name) : QByteArray("No device"));
    // A board that does not answer now has no value now: empty, never its last one.
    if (r.present && r.fresh) {
        using namespace wire_decimals;
        const int32_t t = r.type;
        const bool dcdc = t == driver_type::power_dcdc;
        const int current = of(t, wire_decimals::current);
        f << (r.emission ? "1" : "0") << number(r.current_mA, dcdc ? -1 : current)
          << number(r.current_A, dcdc ? current : -1) << number(r.temperature_C, of(t, temperature))
          << number(r.power_mW, of(t, power)) << number(r.voltage_V, of(t, voltage))
          << number(r.input_voltage_V, of(t, supply_voltage)) << number(r.output_voltage_V, of(t, supply_voltage))
          << number(r.frequency_kHz, of(t, frequency)) << number(r.pulse_width_ns, of(t, pulse_width))
          << field(r.mode) << (dcdc ? hex_flags(r.warning_flags) : QByteArray())
          << (dcdc ? hex_flags(r.fault_flags) : QByteArray()) << number(r.current_set, dcdc ? -1 : current)
          << number(r.current_set, dcdc ? current : -1) << number(r.temperature_set, of(t, temperature))
          << number(r.voltage_set, of(t, voltage)) << number(r.frequency_set, of(t, frequency))
          << number(r.pulse_width_set, of(t, pulse_width));
    }
    return f.join(',') + QByteArray(column_count - f.size(), ',') + '\n';
}
