#pragma once

#include <cstdint>

// Decimals each recorded value carries: the boards send integers that the
// decoder divides by a power of ten, so a value written with that many
// decimals reads back exactly as the board sent it, whatever the panel rounds
// it to for showing.
namespace wire_decimals {

enum field { current, temperature, power, voltage, supply_voltage, frequency, pulse_width, field_count };

// Decimals of `f` for driver type `type`; -1 where the type has no such value.
int of(int32_t type, field f);

} // namespace wire_decimals
