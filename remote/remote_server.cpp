#include "remote_server.h"

#include "scpi_executor.h"
#include "scpi_parser.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpSocket>
#include <algorithm>

remote_server::remote_server(scpi_executor& executor_arg, QObject* parent)
    : QObject(parent), executor(executor_arg)
{
    for (QTcpServer* server : {&v4, &v6}) {
        server->setMaxPendingConnections(max_clients + 2);
        connect(server, &QTcpServer::newConnection, this, [this, server] { accept(*server); });
    }
}

remote_server::~remote_server()
{
    for (const auto& c : clients)
        c->socket->disconnect(this);
}

bool remote_server::listen(quint16 port, QString& why)
{
    close();
    if (!v4.listen(QHostAddress::LocalHost, port)) {
        why = v4.errorString();
        return false;
    }
    if (!v6.listen(QHostAddress::LocalHostIPv6, v4.serverPort()))
        qDebug().noquote() << "remote control: ::1 not available:" << v6.errorString();
    qDebug().noquote() << "remote control: listening on port" << v4.serverPort();
    return true;
}

void remote_server::close()
{
    v4.close();
    v6.close();
    for (const auto& c : clients) {
        c->closed = true;
        c->socket->abort();
    }
    reap();
}

int remote_server::client_count() const
{
    return int(std::count_if(clients.begin(), clients.end(), [](const auto& c) { return !c->closed; }));
}

void remote_server::accept(QTcpServer& server)
{
    while (QTcpSocket* incoming = server.nextPendingConnection()) {
        if (client_count() >= max_clients) {
            // Owned by the server until it has said why and gone.
            connect(incoming, &QTcpSocket::disconnected, incoming, &QObject::deleteLater);
            incoming->write("ERROR: too many clients, at most 8 are served at once\n");
            incoming->disconnectFromHost();
            continue;
        }
        incoming->setParent(nullptr);
        incoming->setReadBufferSize(max_pending);
        auto c = std::make_unique<client>();
        c->socket.reset(incoming);
        client* raw = c.get();
        connect(incoming, &QTcpSocket::readyRead, this, [this, raw] { receive(*raw); });
        // Complete lines sent before the close still run (echo ... | nc); a last
        // line without its newline never does.
        connect(incoming, &QTcpSocket::disconnected, this, [this, raw] {
            raw->peer_gone = true;
            pump();
        });
        clients.push_back(std::move(c));
        emit sig_clients_changed(client_count());
    }
}

void remote_server::receive(client& c)
{
    top_up(c);
    pump();
}

// Takes in at most max_pending unread bytes; the rest waits in the system, so a
// client that sends faster than its lines run is slowed down, not stored.
void remote_server::top_up(client& c)
{
    if (c.closed || c.buffer.indexOf('\n', c.offset) >= 0)
        return; // a complete line is waiting already
    c.buffer.remove(0, c.offset);
    c.offset = 0;
    if (c.buffer.size() < max_pending)
        c.buffer += c.socket->read(max_pending - c.buffer.size());
}

// The next complete line; a line longer than max_line is dropped whole, with
// one error, however long it grows before its newline comes.
bool remote_server::take_line(client& c, QByteArray& line)
{
    for (;;) {
        const int end = c.buffer.indexOf('\n', c.offset);
        if (end < 0) {
            if (c.buffer.size() - c.offset > max_line) {
                if (!c.discarding)
                    c.errors.push(-223, QStringLiteral("line longer than 4096 bytes dropped"));
                c.discarding = true;
                c.buffer.clear();
                c.offset = 0;
            }
            return false;
        }
        // Taken by offset: removing each line from the front would move the rest every time.
        line = c.buffer.mid(c.offset, end - c.offset);
        c.offset = end + 1;
        if (c.discarding || line.size() > max_line) {
            if (!c.discarding)
                c.errors.push(-223, QStringLiteral("line longer than 4096 bytes dropped"));
            c.discarding = false;
            continue;
        }
        if (line.endsWith('\r'))
            line.chop(1);
        return true;
    }
}

void remote_server::run_line(client& c, const QByteArray& line)
{
    QStringList answers;
    for (const scpi_command& command : scpi_parser::parse_line(QString::fromLatin1(line))) {
        QString answer;
        const scpi_outcome outcome = executor.run(command, c.errors, answer);
        if (c.closed)
            return;
        // The first failure ends the line: nothing after it runs, and no later
        // answer can take the place of the one that is missing.
        if (outcome == scpi_outcome::failed)
            break;
        if (outcome == scpi_outcome::answered)
            answers << answer;
    }
    if (answers.isEmpty() || c.socket->state() != QAbstractSocket::ConnectedState)
        return;
    c.socket->write(answers.join(QLatin1Char(';')).toLatin1() + '\n');
    if (c.socket->bytesToWrite() > max_backlog) {
        qDebug() << "remote control: client dropped, it reads no answers";
        c.closed = true;
        c.socket->abort();
    }
}

// Runs the waiting lines, one per client in turn. Not re-entered: a command
// that runs the event loop leaves new lines to the loop already running.
void remote_server::pump()
{
    if (busy)
        return;
    busy = true;
    QElapsedTimer slice;
    slice.start();
    bool progress = true;
    while (progress && !slice.hasExpired(time_slice_ms)) {
        progress = false;
        for (size_t i = 0; i < clients.size(); ++i) {
            client& c = *clients[i];
            QByteArray line;
            top_up(c);
            if (!c.closed && take_line(c, line)) {
                run_line(c, line);
                progress = true;
            } else if (c.peer_gone) {
                c.closed = true; // its last complete line has run
            }
        }
    }
    busy = false;
    // The window gets its turn before a flood of lines goes on.
    if (progress)
        QMetaObject::invokeMethod(this, &remote_server::pump, Qt::QueuedConnection);
    if (std::any_of(clients.begin(), clients.end(), [](const auto& c) { return c->closed; }))
        QMetaObject::invokeMethod(this, &remote_server::reap, Qt::QueuedConnection);
}

// Forgets closed clients, outside their sockets' signals and outside a running line.
void remote_server::reap()
{
    if (busy)
        return;
    const auto before = clients.size();
    for (auto& c : clients) {
        if (c->closed) {
            c->socket->disconnect(this);
            c->socket.release()->deleteLater();
        }
    }
    clients.erase(std::remove_if(clients.begin(), clients.end(), [](const auto& c) { return !c->socket; }),
                  clients.end());
    if (clients.size() != before)
        emit sig_clients_changed(client_count());
}
