#pragma once

#include <cstdint>

// Building blocks shared by the command encoders of all four records.
// A command is described by one command_def line per family, so each
// encoder reads like a row of the command table.

enum class value_layout : uint8_t {
    none,   // request: bytes 1..7 are 0
    byte,   // low 8 bits in byte 7
    bits16, // low 16 bits in bytes 6..7, big-endian
    bits32, // low 32 bits in bytes 4..7, big-endian
};

enum class rounding : uint8_t {
    round, // nearest integer, halves away from zero
    trunc, // toward zero
};

struct command_def
{
    uint8_t code;
    value_layout layout;
    float factor;      // applied to float set-points only
    rounding mode;
};

constexpr command_def request(uint8_t code)
{
    return {code, value_layout::none, 1.0f, rounding::trunc};
}

// The integer that a float set-point becomes on the wire: v * factor, both
// single precision, multiplied in double precision (the product is exact),
// then rounded or truncated. NaN, infinities and products outside the int64
// range give 0: such an input carries no value, and 0 is the harmless
// set-point, whereas saturating would send a full-scale value.
int64_t scaled_integer(float v, float factor, rounding mode);

// Lays out the low bits of value as the command's layout asks and writes
// the 22-byte line for can_id into buf.
void encode_value(int32_t can_id, const command_def& cmd, int64_t value,
                  char* buf, uint32_t* len);

// encode_value with scaled_integer(v, cmd.factor, cmd.mode).
void encode_scaled(int32_t can_id, const command_def& cmd, float v,
                   char* buf, uint32_t* len);

// A request: the code alone, no value.
void encode_request(int32_t can_id, const command_def& cmd, char* buf, uint32_t* len);
