#pragma once

#include <QMetaType>
#include <QVector>
#include <cstdint>

// One received CAN frame. Every frame is taken as eight data bytes; there is
// no length field. It travels between threads by value.
struct serial_message_struct
{
    uint32_t id = 0;
    uint32_t data[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

// The frames of one or more reads, in arrival order.
using serial_message_batch = QVector<serial_message_struct>;

Q_DECLARE_METATYPE(serial_message_struct)
