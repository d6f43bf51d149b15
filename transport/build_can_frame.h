#pragma once

#include <cstdint>

// Length of one transmit frame line: "t", 3 id digits, "8", 16 data digits, CR.
constexpr uint32_t can_frame_line_length = 22;

// Writes the 22-byte SLCAN transmit line for a standard data frame with eight
// data bytes into buf (at least 22 bytes), sets *len to 22 and returns 0.
// Identifier bits above bit 11 are dropped; only the bit pattern of each data
// byte matters.
int32_t build_can_frame(int32_t id, int8_t b0, int8_t b1, int8_t b2, int8_t b3,
                        int8_t b4, int8_t b5, int8_t b6, int8_t b7,
                        char* buf, uint32_t* len);
