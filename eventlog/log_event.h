#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// What an event is about; the log page filters on it.
enum class log_kind {
    connection,
    board,
    output,
    setpoint,
    parameter,
    fault,
    alarm,
    recording,
    remote,
    notice,
};

constexpr int log_kind_count = int(log_kind::notice) + 1;

// "connection", "board", ...: the name written to the file and shown on the page.
QString log_kind_name(log_kind kind);

// One thing that happened, as the log keeps it.
struct log_event
{
    QDateTime utc;  // UTC, millisecond precision; filled by event_log::add() when null
    log_kind kind = log_kind::notice;
    int channel = 0;  // 1..10, 0 when the event concerns no channel
    QString origin;   // who caused it: "panel", "remote 127.0.0.1:41234", "system", ...
    QString text;     // what happened, for people: "output switched off"
};

// The event as one JSON object and a newline, UTF-8, keys in a fixed order:
// {"utc":"2026-12-06T21:12:46.123Z","kind":"output","channel":3,"origin":"panel","text":"..."}
QByteArray log_json_line(const log_event& event);

Q_DECLARE_METATYPE(log_event)
