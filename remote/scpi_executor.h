#pragma once

#include "scpi_command.h"

#include <QString>
#include <functional>

class laser_object;
class scpi_error_queue;
struct channel_reading;

// Runs parsed commands in the GUI thread. Readings come from the channels'
// reading(); every change goes through the channel panel's own controls: the
// field takes the value (within its present range, never clamped here) and
// the slot its button or list runs sends it, so the frames, copies, clamps
// and sequences are the panel's. A control the panel has disabled or does
// not offer refuses the command and nothing is sent.
class scpi_executor
{
public:
    struct hooks
    {
        std::function<laser_object*(int index)> channel; // index 0..9
        std::function<bool()> connected;
        std::function<void()> outputs_off; // what the outputs-off question's Yes does
    };

    scpi_executor(hooks h, QString identity);

    // Runs one command. True with `answer` set for a query that succeeded;
    // every failure is pushed to `errors`.
    bool run(const scpi_command& c, scpi_error_queue& errors, QString& answer);

    // Short names of the panel's five pulse modes, in the mode list's order.
    static QString mode_name(int index);
    static int mode_index(const QString& name);

private:
    bool run_channel(const scpi_command& c, scpi_error_queue& errors, QString& answer);
    bool query_channel(const scpi_command& c, const channel_reading& r, scpi_error_queue& errors,
                       QString& answer);
    void set_channel(const scpi_command& c, laser_object& l, const channel_reading& r,
                     scpi_error_queue& errors);

    hooks h;
    QString identity;
};
