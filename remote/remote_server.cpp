#include "remote_server.h"

#include "scpi_connection.h"
#include "scpi_executor.h"
#include "scpi_parser.h"

#include <QDebug>
#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <algorithm>
#include <functional>
#include <sys/socket.h>
#include <unistd.h>

// Hands accepted descriptors on instead of wrapping them in QTcpSocket.
class scpi_listener : public QTcpServer
{
public:
    explicit scpi_listener(std::function<void(qintptr)> take) : take(std::move(take)) {}

protected:
    void incomingConnection(qintptr descriptor) override { take(descriptor); }

private:
    std::function<void(qintptr)> take;
};

remote_server::remote_server(scpi_executor& executor_arg, QObject* parent)
    : QObject(parent), executor(executor_arg)
{
    v4 = std::make_unique<scpi_listener>([this](qintptr d) { accept(d); });
    v6 = std::make_unique<scpi_listener>([this](qintptr d) { accept(d); });
    pace_timer.setSingleShot(true);
    connect(&pace_timer, &QTimer::timeout, this, &remote_server::pump);
    connect(&stall_timer, &QTimer::timeout, this, &remote_server::drop_stalled);
    set_stall_limit(stall_limit_ms);
}

remote_server::~remote_server()
{
    for (const auto& c : clients)
        c->link->disconnect(this);
}

bool remote_server::listen(quint16 port, QString& why)
{
    close();
    if (!v4->listen(QHostAddress::LocalHost, port)) {
        why = v4->errorString();
        return false;
    }
    if (!v6->listen(QHostAddress::LocalHostIPv6, v4->serverPort()))
        qDebug().noquote() << "remote control: ::1 not available:" << v6->errorString();
    qDebug().noquote() << "remote control: listening on port" << v4->serverPort();
    return true;
}

void remote_server::close()
{
    v4->close();
    v6->close();
    for (const auto& c : clients) {
        c->closed = true;
        c->link->abort();
    }
    reap();
}

bool remote_server::is_listening() const
{
    return v4->isListening();
}

quint16 remote_server::port() const
{
    return v4->serverPort();
}

int remote_server::client_count() const
{
    return int(std::count_if(clients.begin(), clients.end(), [](const auto& c) { return !c->closed; }));
}

void remote_server::set_stall_limit(int ms)
{
    stall_limit_ms = ms;
    stall_timer.start(std::max(10, std::min(1000, ms / 4)));
}

void remote_server::accept(qintptr descriptor)
{
    if (client_count() >= max_clients) {
        static const char full[] = "ERROR: too many clients, at most 8 are served at once\n";
        ::send(int(descriptor), full, sizeof full - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        ::shutdown(int(descriptor), SHUT_WR);
        ::close(int(descriptor));
        return;
    }
    auto c = std::make_unique<client>();
    c->link = std::make_unique<scpi_connection>(descriptor);
    c->id = next_id++;
    client* raw = c.get();
    connect(raw->link.get(), &scpi_connection::sig_readable, this, [this, raw] {
        top_up(*raw);
        pump();
    });
    connect(raw->link.get(), &scpi_connection::sig_sent, this, [this, raw] {
        if (raw->held && raw->link->unsent() <= max_unsent)
            pump();
    });
    connect(raw->link.get(), &scpi_connection::sig_closed, this, [this, raw] {
        raw->closed = true;
        QMetaObject::invokeMethod(this, &remote_server::reap, Qt::QueuedConnection);
    });
    raw->link->want_input(true);
    clients.push_back(std::move(c));
    emit sig_clients_changed(client_count());
}

// Takes in at most max_pending unread bytes; the rest waits in the system, so a
// client that sends faster than its lines run is slowed down, not stored.
void remote_server::top_up(client& c)
{
    if (c.closed || c.buffer.indexOf('\n', c.offset) >= 0)
        return; // a complete line is waiting already
    c.buffer.remove(0, c.offset);
    c.offset = 0;
    c.link->read_into(c.buffer, max_pending - c.buffer.size());
}

// The next complete line without its terminator; a line longer than
// max_line is dropped whole, with one error, however long it grows.
bool remote_server::take_line(client& c, QByteArray& line)
{
    for (;;) {
        const int end = c.buffer.indexOf('\n', c.offset);
        if (end < 0) {
            // One byte more: it may be the '\r' of a line of max_line bytes.
            if (c.buffer.size() - c.offset > max_line + 1) {
                if (!c.discarding)
                    c.status.error(-223, QStringLiteral("line longer than 4096 bytes dropped"));
                c.discarding = true;
                c.buffer.clear();
                c.offset = 0;
            }
            return false;
        }
        // Taken by offset: removing each line from the front would move the rest every time.
        line = c.buffer.mid(c.offset, end - c.offset);
        c.offset = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (c.discarding || line.size() > max_line) {
            if (!c.discarding)
                c.status.error(-223, QStringLiteral("line longer than 4096 bytes dropped"));
            c.discarding = false;
            continue;
        }
        return true;
    }
}

// Runs one command of the client, taking its next line when none runs.
// False when the client cannot go on now.
bool remote_server::step(client& c)
{
    if (c.closed || c.ending || c.waiting)
        return false;
    if (!c.in_line) {
        c.held = c.link->unsent() > max_unsent;
        if (c.held)
            return false;
        QByteArray raw;
        top_up(c);
        if (!take_line(c, raw)) {
            if (c.link->input_ended()) {
                c.ending = true; // every complete line has run: closes once the answers are sent
                c.link->finish();
            }
            return false;
        }
        c.line = scpi_parser::parse_line(QString::fromUtf8(raw));
        c.next = 0;
        c.answers.clear();
        c.in_line = true;
        if (c.line.isEmpty()) {
            c.in_line = false;
            return true;
        }
    }
    const scpi_command& command = c.line[c.next];
    const bool sends = scpi_executor::sends_frames(command);
    if (sends && !may_send_frames())
        return false;
    // Answers of earlier lines have been handed to the socket: only the
    // line's own count (when they reach the client is the network's affair).
    c.status.output_waiting = !c.answers.isEmpty();
    QString answer;
    switch (executor.run(command, c.status, answer)) {
    case scpi_outcome::done:
        if (sends)
            sent_frames();
        ++c.next;
        break;
    case scpi_outcome::answered:
        c.answers << answer;
        ++c.next;
        break;
    case scpi_outcome::failed:
        emit sig_refused(QStringLiteral("remote client %1").arg(c.id), c.status.errors.newest());
        // The first failure ends the line: nothing after it runs, and no later
        // answer can take the place of the one that is missing.
        c.next = c.line.size();
        break;
    case scpi_outcome::synchronise:
        synchronise(c, command);
        return true;
    }
    if (c.next >= c.line.size())
        end_line(c);
    return true;
}

void remote_server::end_line(client& c)
{
    c.in_line = false;
    c.line.clear();
    if (!c.answers.isEmpty() && !c.closed)
        c.link->write(c.answers.join(QLatin1Char(';')).toUtf8() + '\n');
    c.answers.clear();
}

void remote_server::synchronise(client& c, const scpi_command& command)
{
    c.waiting = true;
    const quint64 id = c.id;
    const bool query = command.query;
    const bool set_opc = command.op == scpi_op::opc && !command.query;
    QPointer<remote_server> self(this);
    executor.after_writes([self, id, query, set_opc] {
        if (self)
            self->synchronised(id, query, set_opc);
    });
}

void remote_server::synchronised(quint64 id, bool query, bool set_opc)
{
    client* c = find(id);
    if (!c || c->closed || !c->waiting)
        return;
    c->waiting = false;
    if (query)
        c->answers << QStringLiteral("1");
    if (set_opc)
        c->status.event(scpi_status::operation_complete);
    if (++c->next >= c->line.size())
        end_line(*c);
    pump();
}

// One command that sends frames at a time, the next once the frames of the
// one before have been written, and not sooner than set_interval_ms after it.
bool remote_server::may_send_frames()
{
    if (frames_in_flight)
        return false;
    const qint64 since = last_frames.isValid() ? last_frames.elapsed() : set_interval_ms;
    if (since >= set_interval_ms)
        return true;
    if (!pace_timer.isActive())
        pace_timer.start(int(set_interval_ms - since));
    return false;
}

void remote_server::sent_frames()
{
    frames_in_flight = true;
    last_frames.start();
    QPointer<remote_server> self(this);
    executor.after_writes([self] {
        if (!self)
            return;
        self->frames_in_flight = false;
        self->pump();
    });
}

// Runs waiting commands, one per client in turn. Not re-entered: a command
// that reaches back into the server leaves new work to the pass running.
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
        const size_t n = clients.size();
        for (size_t k = 0; k < n; ++k) {
            // Starting after the last client that sent frames shares the link out fairly.
            const size_t i = (turn + k) % n;
            const bool frames_before = frames_in_flight;
            if (step(*clients[i])) {
                progress = true;
                if (!frames_before && frames_in_flight)
                    turn = i + 1;
            }
        }
    }
    busy = false;
    for (const auto& c : clients)
        c->link->flush(); // may close it: the loop below looks at closed
    for (const auto& c : clients) {
        const bool room = c->buffer.indexOf('\n', c->offset) < 0 && c->buffer.size() - c->offset < max_pending;
        c->link->want_input(!c->closed && !c->ending && room && c->link->unsent() <= max_unsent);
    }
    // The window gets its turn before a flood of lines goes on.
    if (progress)
        QMetaObject::invokeMethod(this, &remote_server::pump, Qt::QueuedConnection);
    if (std::any_of(clients.begin(), clients.end(), [](const auto& c) { return c->closed; }))
        QMetaObject::invokeMethod(this, &remote_server::reap, Qt::QueuedConnection);
}

// A client that has not read its answers for stall_limit_ms is gone for good.
void remote_server::drop_stalled()
{
    bool dropped = false;
    for (const auto& c : clients) {
        if (!c->closed && c->link->stalled_ms() > stall_limit_ms) {
            qDebug() << "remote control: client dropped, it reads no answers";
            c->closed = true;
            c->link->abort();
            dropped = true;
        }
    }
    if (dropped)
        reap();
}

remote_server::client* remote_server::find(quint64 id)
{
    for (const auto& c : clients) {
        if (c->id == id)
            return c.get();
    }
    return nullptr;
}

// Forgets closed clients, outside their sockets' signals and outside a running command.
void remote_server::reap()
{
    if (busy)
        return;
    const auto before = clients.size();
    for (auto& c : clients) {
        if (c->closed) {
            c->link->disconnect(this);
            c->link->abort();
            c->link.release()->deleteLater();
        }
    }
    clients.erase(std::remove_if(clients.begin(), clients.end(), [](const auto& c) { return !c->link; }),
                  clients.end());
    if (clients.size() != before)
        emit sig_clients_changed(client_count());
    if (turn > clients.size())
        turn = 0;
}
