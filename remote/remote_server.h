#pragma once

#include "scpi_error_queue.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <vector>

class QTcpSocket;
class scpi_executor;

// The SCPI server: raw TCP on the loopback addresses only (127.0.0.1 and
// ::1), newline-terminated lines, at most max_clients at once, one error
// queue per client. Runs in the GUI thread: the sockets are asynchronous and
// the commands touch the channel panels. A line runs whole, without the event
// loop, so nothing (a close among them) can run in the middle of it.
class remote_server : public QObject
{
    Q_OBJECT

public:
    static constexpr int max_clients = 8;
    static constexpr int max_line = 4096;
    // A client that reads no answers is dropped before its backlog grows beyond this.
    static constexpr qint64 max_backlog = 1 << 20;
    // Received bytes taken in per client before its lines have run.
    static constexpr int max_pending = 1 << 16;
    // Lines run at most this long in one go before the window's events.
    static constexpr int time_slice_ms = 10;

    explicit remote_server(scpi_executor& executor, QObject* parent = nullptr);
    ~remote_server() override;

    // False with the reason when 127.0.0.1 cannot be bound; ::1 is taken
    // when the system has it.
    bool listen(quint16 port, QString& why);
    void close();
    bool is_listening() const { return v4.isListening(); }
    quint16 port() const { return v4.serverPort(); }
    int client_count() const;

signals:
    void sig_clients_changed(int count);

private:
    struct client
    {
        std::unique_ptr<QTcpSocket> socket;
        QByteArray buffer;
        int offset = 0;          // start of the first line not yet taken
        bool discarding = false; // inside a line that was too long
        bool closed = false;     // no more lines are taken
        bool peer_gone = false;  // disconnected; closed once its last line ran
        scpi_error_queue errors;
    };

    void accept(QTcpServer& server);
    void receive(client& c);
    void top_up(client& c);
    bool take_line(client& c, QByteArray& line);
    void run_line(client& c, const QByteArray& line);
    void pump();
    void reap();

    scpi_executor& executor;
    QTcpServer v4;
    QTcpServer v6;
    std::vector<std::unique_ptr<client>> clients;
    bool busy = false; // a line is running; clients are only added meanwhile
};
