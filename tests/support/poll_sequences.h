#pragma once

#include <QVector>

// The request codes each board type receives in one monitoring pass, in order.
namespace poll_sequences {
inline const QVector<int> identification = {0xD0, 0xD1};
inline const QVector<int> cw_poll = identification + QVector<int>{0x90, 0x21, 0x91, 0x92, 0x94, 0xA5, 0xA6, 0xB7, 0xB6, 0xB3};
inline const QVector<int> pulse_poll = identification + QVector<int>{0xA4, 0x21, 0xA2, 0x98, 0x92, 0xB4, 0x99, 0xB5};
inline const QVector<int> ps_poll = pulse_poll + QVector<int>{0xA5, 0xA6, 0xB7, 0xB6};
inline const QVector<int> ns_poll = pulse_poll + QVector<int>{0xA3, 0xA5, 0xA6, 0xB7, 0xB6};
inline const QVector<int> dcdc_poll = identification + QVector<int>{0x90, 0x91, 0x92, 0xB0, 0xA6, 0x94};
} // namespace poll_sequences
