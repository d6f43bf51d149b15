#pragma once

#include "history_series.h"

#include <QString>
#include <array>
#include <map>
#include <vector>

struct channel_reading;

// What the trends show: the history of every quantity each channel has had,
// sampled from the channels' readings.
class trend_store
{
public:
    enum quantity { current_mA, current_A, temperature_C, power_mW, voltage_V, frequency_kHz,
                    output_voltage_V, input_voltage_V, quantity_count };
    static constexpr int channel_count = 10;

    // "Current", "mA": for axis titles and the readout.
    static QString title(quantity q);
    static QString unit(quantity q);
    // The quantities the channel's family reads, in the order they are plotted.
    static std::vector<quantity> family_quantities(int32_t type);

    explicit trend_store(const history_series::limits& l = {}) : lim(l) {}

    // One sample of every channel given, at time t (seconds since the epoch).
    void add(const std::vector<channel_reading>& readings, double t);
    // History of `channel` (1..10), or null when it never had the quantity.
    const history_series* series(int channel, quantity q) const;
    // Points kept over all series.
    size_t size() const;

private:
    history_series::limits lim;
    std::array<std::map<quantity, history_series>, channel_count> channels;
};
