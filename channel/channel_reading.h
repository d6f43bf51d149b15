#pragma once

#include <QString>
#include <cmath>
#include <cstdint>
#include <limits>

// What one channel shows at one moment, as a value: the one view of channel
// state that recording, trends and remote control read. A reading the
// board's family does not have is NaN (or empty text); values are as the
// board reported them, in the panel's units.
struct channel_reading
{
    static constexpr double none = std::numeric_limits<double>::quiet_NaN();
    static bool has(double v) { return !std::isnan(v); }

    int channel = 0;          // 1..10
    QString name;
    int32_t can_id = 0;
    int32_t board_can_id = -1; // the board whose reply was decoded last (a CAN ID 250 channel takes any)
    bool enabled = false;     // enabled in the system configuration
    bool bound = false;       // the panel has every widget; unbound channels take no input
    bool present = false;     // a board of a known type answers
    bool fresh = false;       // the board answered within the freshness window
    qint64 age_ms = -1;       // since the board's last answer; -1 never
    int32_t type = 0;         // driver_type code (0 none yet, -1 lost)
    QString type_name;        // "CW Type", ...; empty without a device
    int digits = 1;           // decimals the panel shows for current and temperature
    bool emission = false;    // laser on (CW, PS, NS) or output on (DCDC)
    bool tec_on = false;

    double current_mA = none; // CW, Precision CW
    double current_A = none;  // Power DCDC
    double temperature_C = none;
    double power_mW = none;   // CW, Precision CW
    double voltage_V = none;  // PS, NS, SOA NS
    double input_voltage_V = none;  // Power DCDC
    double output_voltage_V = none; // Power DCDC
    double frequency_kHz = none;    // PS, NS, SOA NS
    double pulse_width_ns = none;   // NS, SOA NS
    QString mode;             // pulse mode name as the panel lists it
    int mode_index = -1;      // index into the panel's mode list
    int burst_n = -1;         // N and M of the burst modes (PS, NS, SOA NS)
    int burst_m = -1;
    uint16_t warning_flags = 0; // Power DCDC
    uint16_t fault_flags = 0;

    // Set-points as the board reports them.
    double current_set = none; // mA, or A on Power DCDC
    double temperature_set = none;
    double voltage_set = none;
    double frequency_set = none;
    double pulse_width_set = none;
};
