#pragma once

#include "tango_snapshot.h"

#include <QString>
#include <QStringList>
#include <functional>

class laser_object;

// The program's side of the TANGO devices, in the GUI thread: what they serve
// (a snapshot of every channel as the panel shows it) and what a client's
// write or command does, always through the channel's one command interface.
class tango_requests
{
public:
    struct hooks
    {
        std::function<laser_object*(int index)> channel; // index 0..9
        std::function<bool()> connected;
        // "All outputs off"; false when nothing could be sent (disconnected).
        std::function<bool()> outputs_off;
        std::function<QStringList()> alarms;
        std::function<void()> acknowledge_alarms;
        std::function<bool()> recording;
        std::function<QStringList()> log_lines; // the last lines of the event log
        // A client's change for the event log: channel (0: the program), client, what.
        std::function<void(int channel, const QString& client, const QString& what)> note;
        // The client on whose behalf the channel requests that follow are made ("" after).
        std::function<void(const QString& client)> acting_for;
    };

    explicit tango_requests(hooks h) : h(std::move(h)) {}

    // Every write and command but AllOutputsOff is refused.
    bool read_only = false;

    tango_reply run(const tango_request& r);
    tango_snapshot snapshot() const;

private:
    tango_reply run_channel(laser_object& l, const tango_request& r);
    tango_channel_snapshot channel_snapshot(const laser_object& l) const;

    hooks h;
};
