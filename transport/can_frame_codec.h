#pragma once

#include "serial_message_struct.h"

#include <QByteArray>
#include <QCanBusFrame>

// The frames of the boards on a CAN interface: standard identifier, data
// frame, exactly eight data bytes, classic CAN. Everything else is refused
// with its reason and never decoded.
enum class can_frame_verdict { taken, extended_id, remote, error_frame, wrong_length, flexible_data_rate, invalid };

// Fills msg (left untouched unless taken) from a received frame.
can_frame_verdict frame_to_record(const QCanBusFrame& frame, serial_message_struct& msg);

// The data frame of a record: its identifier, its eight data bytes.
QCanBusFrame record_to_frame(const serial_message_struct& msg);

// The frame of one transmit line as build_can_frame writes it ("t", 3 hex id
// digits, "8", 16 hex data digits, carriage return optional); false for any
// other line, adapter commands included.
bool line_to_frame(const char* line, int len, QCanBusFrame& frame);
