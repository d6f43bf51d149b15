#pragma once

#include "pty_port.h"
#include "sim_board.h"
#include "sim_config.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>
#include <random>
#include <vector>

class QSocketNotifier;

// The simulated adapter and its boards, on a pseudo-terminal. Lives in one
// thread (bus_simulator gives it its own); every method runs there. The
// counters and flags are atomic so other threads may read them directly.
class sim_engine : public QObject
{
    Q_OBJECT

public:
    explicit sim_engine(const sim_config& config, QObject* parent = nullptr);
    ~sim_engine() override;

    // Opens the pseudo-terminal and publishes its link; false on failure.
    bool plug();
    // The link disappears and the other side sees a hang-up; it comes back
    // under the same path after replug_after_ms (never when negative).
    void unplug(int replug_after_ms);
    // Unplugs for good and stops every timer; call before leaving the thread.
    void shutdown();

    QString link_path() const { return pty.link(); }
    QString slave_name() const { return pty.slave_name(); }
    QString last_error() const { return error_text; }

    QList<QByteArray> received_lines() const { return recorded; }
    void clear_received_lines() { recorded.clear(); }

    // Fault injection.
    bool set_board_silent(int can_id, bool silent);
    // Random bytes, then a set of malformed and foreign lines, ending in CR.
    int send_garbage(int random_bytes);
    // count valid replies of the board, handed to the terminal in one write.
    int send_reply_burst(int can_id, int count);

    // Board access by present CAN ID; nullptr when there is none.
    sim_board* board(int can_id);

    std::atomic<quint64> lines_received{0};
    std::atomic<quint64> frames_forwarded{0};
    std::atomic<quint64> replies_sent{0};
    std::atomic<quint64> bytes_dropped{0};
    std::atomic<bool> adapter_open{false};
    std::atomic<bool> plugged{false};

signals:
    void line_received(QByteArray line);
    void plug_changed(bool plugged);

private:
    struct board_slot
    {
        sim_board board;
        bool silent = false;
    };

    void on_readable();
    void on_writable();
    void handle_line(const QByteArray& line);
    void route_frame(uint32_t frame_id, const uint8_t data[8]);
    QByteArray reply_line(int can_id, const uint8_t data[8]);
    void send(const QByteArray& bytes);
    void flush_out();
    void drop_notifiers();
    void send_due_replies();

    sim_config config;
    std::vector<board_slot> boards;
    pty_port pty;
    std::unique_ptr<QSocketNotifier> read_notifier;
    std::unique_ptr<QSocketNotifier> write_notifier;
    QTimer replug_timer;
    QTimer reply_timer;
    QList<QPair<qint64, QByteArray>> delayed_replies; // due time on clock, line
    QByteArray rx;
    QByteArray out;
    QList<QByteArray> recorded;
    QElapsedTimer clock;
    QString error_text;
    std::mt19937 rng{20261206u};
    uint16_t timestamp_ms = 0;
};
