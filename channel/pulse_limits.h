#pragma once

class QComboBox;

// Duty-cycle bound from which the NS pulse-width limit is derived.
constexpr double ns_duty_limit = 0.02;
// Pulse-width limit where the rate gives none (pulse on demand, no rate).
constexpr double ns_free_pulse_width_limit = 6500.0;

// Largest NS pulse width (ns) that keeps a 2 % duty cycle at rate_khz,
// rounded half away from zero, at least 1; 6500 when no positive rate is known.
double ns_pulse_width_limit(double rate_khz);

// Highest rate (kHz) that keeps max_duty at pulse_width_ns, rounded half away
// from zero; +inf when no positive pulse width is known (no limit).
double ns_rate_limit(double max_duty, double pulse_width_ns);

// Scans the rate list from its last entry down to entry 1 and returns the
// first entry whose value is at most f_max, or -1.
int last_rate_entry_within(const QComboBox* rates, double f_max);
