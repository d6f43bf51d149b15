#include "csv_row_format.h"

#include "channel_reading.h"
#include "driver_type.h"

namespace {

const char* const columns =
    "time_utc,elapsed_s,channel,name,can_id,type,emission,current_mA,current_A,temperature_C,power_mW,"
    "voltage_V,input_voltage_V,output_voltage_V,frequency_kHz,pulse_width_ns,mode,warning_flags,fault_flags\n";

QByteArray number(double v, int decimals)
{
    return channel_reading::has(v) ? QByteArray::number(v, 'f', decimals) : QByteArray();
}

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

QByteArray csv_row_format::row(const channel_reading& r, const QDateTime& utc, double elapsed_s)
{
    QByteArrayList f;
    f << utc.toUTC().toString(Qt::ISODateWithMs).toLatin1() << QByteArray::number(elapsed_s, 'f', 3)
      << QByteArray::number(r.channel) << field(r.name) << QByteArray::number(r.can_id);
    if (!r.present) {
        f << "No device";
        return f.join(',') + QByteArray(13, ',') + '\n';
    }
    const bool dcdc = r.type == driver_type::power_dcdc;
    f << field(r.type_name) << (r.emission ? "1" : "0") << number(r.current_mA, r.digits)
      << number(r.current_A, 1) << number(r.temperature_C, r.digits) << number(r.power_mW, 1)
      << number(r.voltage_V, 1) << number(r.input_voltage_V, 1) << number(r.output_voltage_V, 1)
      // The rate list shows the board's values as they are: no fixed decimals.
      << (channel_reading::has(r.frequency_kHz) ? QByteArray::number(r.frequency_kHz, 'g', 10) : QByteArray())
      << number(r.pulse_width_ns, 1) << field(r.mode) << (dcdc ? hex_flags(r.warning_flags) : QByteArray())
      << (dcdc ? hex_flags(r.fault_flags) : QByteArray());
    return f.join(',') + '\n';
}
