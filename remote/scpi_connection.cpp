#include "scpi_connection.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

scpi_connection::scpi_connection(qintptr descriptor, QObject* parent)
    : QObject(parent), fd(int(descriptor))
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Answers go at once, not held back until the client acknowledges the last one.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    reader = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Read);
    writer = std::make_unique<QSocketNotifier>(descriptor, QSocketNotifier::Write);
    reader->setEnabled(false);
    writer->setEnabled(false);
    connect(reader.get(), &QSocketNotifier::activated, this, [this] {
        // The server reads in its handler; stop until it asks again, so an
        // unread byte does not fire the notifier over and over.
        reader->setEnabled(false);
        emit sig_readable();
    });
    connect(writer.get(), &QSocketNotifier::activated, this, &scpi_connection::flush);
    last_progress.start();
}

scpi_connection::~scpi_connection()
{
    abort();
}

int scpi_connection::read_into(QByteArray& into, int max)
{
    if (fd < 0 || eof || max <= 0)
        return 0;
    const int old = into.size();
    into.resize(old + max);
    const ssize_t n = ::recv(fd, into.data() + old, size_t(max), 0);
    into.resize(old + int(n > 0 ? n : 0));
    if (n == 0) {
        eof = true; // half-closed: answers still go out
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        fail();
    }
    return int(n > 0 ? n : 0);
}

void scpi_connection::want_input(bool on)
{
    if (fd >= 0 && reader->isEnabled() != (on && !eof))
        reader->setEnabled(on && !eof);
}

void scpi_connection::write(const QByteArray& data)
{
    if (fd < 0 || finishing)
        return;
    if (unsent() == 0) {
        out.clear();
        out_offset = 0;
        last_progress.restart();
    }
    out += data;
}

void scpi_connection::flush()
{
    while (fd >= 0 && unsent() > 0) {
        const ssize_t n = ::send(fd, out.constData() + out_offset, size_t(unsent()), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            fail();
            return;
        }
        out_offset += int(n);
        last_progress.restart();
        emit sig_sent();
    }
    if (fd < 0)
        return;
    if (unsent() == 0) {
        // Keeps the buffer from growing with what was sent long ago.
        out.clear();
        out_offset = 0;
    } else if (out_offset > (1 << 20)) {
        out.remove(0, out_offset);
        out_offset = 0;
    }
    writer->setEnabled(unsent() > 0);
    if (finishing && unsent() == 0) {
        ::shutdown(fd, SHUT_WR);
        fail();
    }
}

void scpi_connection::finish()
{
    finishing = true;
    flush();
}

void scpi_connection::abort()
{
    if (fd < 0)
        return;
    reader->setEnabled(false);
    writer->setEnabled(false);
    ::close(fd);
    fd = -1;
    out.clear();
    out_offset = 0;
}

void scpi_connection::fail()
{
    if (fd < 0)
        return;
    abort();
    emit sig_closed();
}
