#pragma once

#include "scpi_command.h"

#include <QString>
#include <QStringList>
#include <functional>

class laser_object;
class scpi_error_queue;
struct channel_reading;

// What became of one command.
enum class scpi_outcome {
    done,     // a set command that was carried out
    answered, // a query with its answer
    failed,   // an error went to the queue
};

// Runs parsed commands in the GUI thread. Readings come from the channels'
// reading(); every change is requested through the channel's one command
// interface, which refuses what the panel would not take and sends the
// panel's own frames and sequences.
class scpi_executor
{
public:
    struct hooks
    {
        std::function<laser_object*(int index)> channel; // index 0..9
        std::function<bool()> connected;
        // What "All outputs off" does; false when nothing could be sent (disconnected).
        std::function<bool()> outputs_off;
        // The active alarms ("channel 3: Lost while emitting: ..."), and acknowledging them all.
        std::function<QStringList()> alarms;
        std::function<void()> acknowledge_alarms;
    };

    scpi_executor(hooks h, QString identity);

    // Runs one command; every failure is pushed to `errors`.
    scpi_outcome run(const scpi_command& c, scpi_error_queue& errors, QString& answer);

    // Short names of the panel's five pulse modes, in the mode list's order.
    static QString mode_name(int index);
    static int mode_index(const QString& name);

private:
    scpi_outcome run_channel(const scpi_command& c, scpi_error_queue& errors, QString& answer);
    scpi_outcome query_channel(const scpi_command& c, const channel_reading& r, scpi_error_queue& errors,
                               QString& answer);
    scpi_outcome set_channel(const scpi_command& c, laser_object& l, scpi_error_queue& errors);

    hooks h;
    QString identity;
};
