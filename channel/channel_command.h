#pragma once

#include <QString>

// Who asked a channel for a change: every change is made on someone's behalf,
// and the event log names them.
enum class command_origin {
    panel,       // the operator on the channel's own panel
    remote,      // a script through the SCPI server
    outputs_off, // "All outputs off", the outputs-off question, a termination request
    tango,       // a client of the facility's control system
};

// The set-points a channel takes through its one command interface.
enum class setpoint_kind {
    current,     // mA (CW family) or A (Power DCDC)
    temperature, // °C
    voltage,     // V (pulsed types)
    frequency,   // kHz, one of the panel's rates
    pulse_width, // ns (NS family)
    burst_n,     // gated count of the burst modes
    burst_m,     // cut count of the burst modes
    mode,        // index of the panel's pulse mode list
};

// The answer to a request: accepted, or why not.
struct command_verdict
{
    enum kind_t {
        accepted,
        conflict,     // not now: disconnected, no board, control disabled, not offered
        out_of_range, // the value lies outside what the control takes now
        illegal,      // not a value this setting can have at all
    };
    kind_t kind = accepted;
    QString why;

    bool ok() const { return kind == accepted; }
    static command_verdict refuse(kind_t k, const QString& why) { return {k, why}; }
};
