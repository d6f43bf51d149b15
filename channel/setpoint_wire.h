#pragma once

#include "wire_limits.h"

// What each set-point command carries, in the operator's units.
namespace setpoint_wire {
const value_range& cw_current();            // set_current: ×10, 16 bits
const value_range& precision_current();     // set_current_precision: ×100, 32 bits
const value_range& dcdc_current();          // DCDC set_current: ×100, 16 bits
const value_range& temperature();           // CW/PS/NS set_temperature: ×10, signed 16 bits
const value_range& precision_temperature(); // set_temperature_precision: ×10000, 32 bits
const value_range& voltage();               // set_voltage: ×10, 16 bits
const value_range& pulse_width();           // set_pulse_width: ×10, 16 bits
const value_range& count();                 // rates, gated and cut counts: 16 bits
} // namespace setpoint_wire
