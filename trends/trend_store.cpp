#include "trend_store.h"

#include "channel_reading.h"
#include "driver_type.h"

namespace {

double value_of(const channel_reading& r, trend_store::quantity q)
{
    switch (q) {
    case trend_store::current_mA: return r.current_mA;
    case trend_store::current_A: return r.current_A;
    case trend_store::temperature_C: return r.temperature_C;
    case trend_store::power_mW: return r.power_mW;
    case trend_store::voltage_V: return r.voltage_V;
    case trend_store::frequency_kHz: return r.frequency_kHz;
    case trend_store::output_voltage_V: return r.output_voltage_V;
    case trend_store::input_voltage_V: return r.input_voltage_V;
    case trend_store::quantity_count: break;
    }
    return channel_reading::none;
}

} // namespace

QString trend_store::title(quantity q)
{
    const char* const titles[] = {"Current", "Current", "Temperature", "Optical power", "Voltage",
                                  "Repetition rate", "Output voltage", "Input voltage"};
    return QString::fromLatin1(titles[q]);
}

QString trend_store::unit(quantity q)
{
    const char* const units[] = {"mA", "A", "\u00B0C", "mW", "V", "kHz", "V", "V"};
    return QString::fromUtf8(units[q]);
}

std::vector<trend_store::quantity> trend_store::family_quantities(int32_t type)
{
    if (driver_type::is_cw_family(type))
        return {current_mA, temperature_C, power_mW};
    if (type == driver_type::power_dcdc)
        return {current_A, temperature_C, output_voltage_V, input_voltage_V};
    if (driver_type::is_known(type))
        return {temperature_C, voltage_V, frequency_kHz};
    return {};
}

void trend_store::add(const std::vector<channel_reading>& readings, double t)
{
    std::array<bool, channel_count> sampled{};
    for (const channel_reading& r : readings) {
        if (r.channel < 1 || r.channel > channel_count)
            continue;
        sampled[size_t(r.channel - 1)] = true;
        auto& kept = channels[size_t(r.channel - 1)];
        for (int i = 0; i < quantity_count; ++i) {
            const auto q = quantity(i);
            // A board that does not answer now is a gap, not its last value.
            const double v = r.present && r.fresh ? value_of(r, q) : channel_reading::none;
            // A quantity the channel had before goes on as a gap while its board is away.
            auto it = kept.find(q);
            if (channel_reading::has(v) && it == kept.end())
                it = kept.emplace(q, history_series(lim)).first;
            if (it != kept.end())
                it->second.add(t, v);
        }
    }
    // A channel not sampled (disabled) is a gap while it is away, not a line
    // from its last value to its next.
    for (size_t c = 0; c < channels.size(); ++c) {
        if (!sampled[c]) {
            for (auto& kept : channels[c])
                kept.second.add(t, channel_reading::none);
        }
    }
}

const history_series* trend_store::series(int channel, quantity q) const
{
    if (channel < 1 || channel > channel_count)
        return nullptr;
    const auto& kept = channels[size_t(channel - 1)];
    const auto it = kept.find(q);
    return it == kept.end() ? nullptr : &it->second;
}

size_t trend_store::size() const
{
    size_t n = 0;
    for (const auto& kept : channels)
        for (const auto& s : kept)
            n += s.second.size();
    return n;
}
