#pragma once

#include "scpi_command.h"

#include <QString>
#include <QStringList>
#include <functional>

class laser_object;
class scpi_status;
struct channel_reading;

// What became of one command.
enum class scpi_outcome {
    done,     // a set command that was carried out
    answered, // a query with its answer
    failed,   // an error went to the queue
    // *OPC, *OPC? or *WAI: the server goes on with the client once every
    // frame of the commands before it has been written (after_writes).
    synchronise,
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
        // Calls back in the GUI thread, later, once every frame handed to
        // the transport before this call has been written; never at once.
        std::function<void(std::function<void()>)> after_writes;
    };

    scpi_executor(hooks h, QString identity);

    // Runs one command; every failure goes to the client's `status`.
    scpi_outcome run(const scpi_command& c, scpi_status& status, QString& answer);
    void after_writes(std::function<void()> done) const { h.after_writes(std::move(done)); }

    // Commands that may put frames on the bus, paced by the server.
    static bool sends_frames(const scpi_command& c);

    // Short names of the panel's five pulse modes, in the mode list's order.
    static QString mode_name(int index);
    static int mode_index(const QString& name);

private:
    scpi_outcome run_common(const scpi_command& c, scpi_status& status, QString& answer);
    scpi_outcome run_channel(const scpi_command& c, scpi_status& status, QString& answer);
    scpi_outcome query_channel(const scpi_command& c, const channel_reading& r, scpi_status& status,
                               QString& answer);
    scpi_outcome set_channel(const scpi_command& c, laser_object& l, scpi_status& status);
    int self_test() const;

    hooks h;
    QString identity;
};
