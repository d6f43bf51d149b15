#pragma once

#include "scpi_command.h"
#include "scpi_status.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <memory>
#include <vector>

class scpi_connection;
class scpi_executor;
class scpi_listener;

// The SCPI server: raw TCP on the loopback addresses only (127.0.0.1 and
// ::1), newline-terminated lines, at most max_clients at once, one status
// and error queue per client. Runs in the GUI thread: the sockets are
// asynchronous and the commands touch the channel panels.
//
// Clients take turns one command at a time, so a long line delays another
// client by one command, not by the line. Commands that send frames leave
// one at a time, each once the frames of the one before have been written
// and at least set_interval_ms after it, so a script cannot crowd the polls
// off the link. *OPC, *OPC? and *WAI hold their client until every frame of
// the commands before them has been written; nothing waits in a nested loop.
class remote_server : public QObject
{
    Q_OBJECT

public:
    static constexpr int max_clients = 8;
    static constexpr int max_line = 4096;
    // A client's next line waits while more unread answers than this wait
    // for it; its input is not read meanwhile, so TCP slows the client down.
    static constexpr qint64 max_unsent = 1 << 18;
    // Received bytes taken in per client before its lines have run.
    static constexpr int max_pending = 1 << 16;
    // Commands run at most this long in one go before the window's events.
    static constexpr int time_slice_ms = 10;
    // The shortest spacing of two commands that send frames (50 a second,
    // three frame lines each: a third of what a 115 200 baud adapter carries).
    static constexpr int set_interval_ms = 20;

    explicit remote_server(scpi_executor& executor, QObject* parent = nullptr);
    ~remote_server() override;

    // False with the reason when 127.0.0.1 cannot be bound; ::1 is taken
    // when the system has it.
    bool listen(quint16 port, QString& why);
    void close();
    bool is_listening() const;
    quint16 port() const;
    int client_count() const;
    // A client whose answers have not been read for this long is dropped (default one minute).
    void set_stall_limit(int ms);

signals:
    void sig_clients_changed(int count);
    // A command failed: who sent it ("remote client 3") and the error it queued.
    void sig_refused(QString client, QString error);

private:
    struct client
    {
        std::unique_ptr<scpi_connection> link;
        quint64 id = 0;
        QByteArray buffer;
        int offset = 0;          // start of the first line not yet taken
        bool discarding = false; // inside a line that was too long
        QVector<scpi_command> line; // the line running, command by command
        int next = 0;
        QStringList answers;
        bool in_line = false;
        bool waiting = false;  // for *OPC, *OPC? or *WAI
        bool held = false;     // answers unread: no new line meanwhile
        bool ending = false;   // input ended and every line ran: closing once sent
        bool closed = false;   // forgotten at the next reap
        scpi_status status;
    };

    void accept(qintptr descriptor);
    void top_up(client& c);
    bool take_line(client& c, QByteArray& line);
    bool step(client& c);
    void end_line(client& c);
    void synchronise(client& c, const scpi_command& command);
    void synchronised(quint64 id, bool query, bool set_opc);
    bool may_send_frames();
    void sent_frames();
    void pump();
    void drop_stalled();
    void reap();
    client* find(quint64 id);

    scpi_executor& executor;
    std::unique_ptr<scpi_listener> v4;
    std::unique_ptr<scpi_listener> v6;
    std::vector<std::unique_ptr<client>> clients;
    quint64 next_id = 1;
    size_t turn = 0;   // the client that gets the next chance to send frames
    bool busy = false; // commands are running; clients are only added meanwhile
    bool frames_in_flight = false;
    QElapsedTimer last_frames;
    QTimer pace_timer;
    QTimer stall_timer;
    int stall_limit_ms = 60000;
};
