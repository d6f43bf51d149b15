#pragma once

#include <QByteArray>
#include <chrono>

// One channel's polling as the scheduler drives it: a state machine that is
// asked for its next step whenever that step falls due.
class poll_client
{
public:
    struct step
    {
        QByteArray frame;                     // empty: nothing to send at this step
        std::chrono::milliseconds next{0};    // until the next step
        std::chrono::milliseconds pace{15};   // the grid this channel paces on now
        bool leave = false;                   // the polling has stopped: out of the schedule
    };

    virtual ~poll_client() = default;

    // Called by the scheduler, under its lock, when the step is due.
    virtual step poll_step() = 0;
    // Called by the scheduler, outside its lock, with the step's frame.
    virtual void deliver(const QByteArray& frame) = 0;
    // Set when the client (re)joins the schedule: it begins a new pass.
    virtual void restart() = 0;
};
