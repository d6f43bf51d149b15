#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <memory>

class QSocketNotifier;

// One client's TCP connection on its socket descriptor. QTcpSocket closes the
// whole connection when the peer shuts its sending side, so answers to the
// lines of `echo ... | nc -N` would be lost; here each direction ends on its
// own. Input is read only while the server asks for it, so a client whose
// answers pile up is slowed down by TCP itself.
class scpi_connection : public QObject
{
    Q_OBJECT

public:
    // Takes the connected, accepted descriptor over.
    explicit scpi_connection(qintptr descriptor, QObject* parent = nullptr);
    ~scpi_connection() override;

    // Appends at most `max` received bytes; 0 when nothing waits.
    int read_into(QByteArray& into, int max);
    // Whether sig_readable may come (level-triggered: off while not reading).
    void want_input(bool on);
    // Queued until flush(), so that the answers of one pass leave together.
    void write(const QByteArray& data);
    void flush();
    // Bytes the peer has not taken yet (beyond what the system buffers).
    qint64 unsent() const { return out.size() - out_offset; }
    // Milliseconds since the peer last took bytes while some were waiting.
    qint64 stalled_ms() const { return unsent() > 0 ? last_progress.elapsed() : 0; }

    bool input_ended() const { return eof; }  // the peer sends nothing more
    bool broken() const { return fd < 0; }    // reset or closed: nothing goes either way
    // Closes at once; what is unsent is dropped.
    void abort();
    // Ends the sending side once everything is sent, then closes.
    void finish();

signals:
    void sig_readable();
    void sig_sent();   // the peer took bytes
    void sig_closed(); // broken, by the peer or by finish()

private:
    void fail();

    int fd = -1;
    std::unique_ptr<QSocketNotifier> reader;
    std::unique_ptr<QSocketNotifier> writer;
    QByteArray out;
    int out_offset = 0;
    bool eof = false;
    bool finishing = false;
    QElapsedTimer last_progress;
};
