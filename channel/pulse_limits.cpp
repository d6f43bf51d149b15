#include "pulse_limits.h"

#include <QComboBox>
#include <cmath>
#include <limits>

double ns_pulse_width_limit(double rate_khz)
{
    if (!(rate_khz > 0.0) || !std::isfinite(rate_khz))
        return ns_free_pulse_width_limit;
    const double limit = std::round(ns_duty_limit / (rate_khz * 1000.0 * 1e-9));
    return limit < 1.0 ? 1.0 : limit;
}

double ns_rate_limit(double max_duty, double pulse_width_ns)
{
    if (!(pulse_width_ns > 0.0) || !std::isfinite(pulse_width_ns))
        return std::numeric_limits<double>::infinity();
    return std::round(max_duty / (1e-6 * pulse_width_ns));
}

int last_rate_entry_within(const QComboBox* rates, double f_max)
{
    for (int i = rates->count() - 1; i >= 1; --i) {
        if (rates->itemText(i).toInt() <= f_max)
            return i;
    }
    return -1;
}
