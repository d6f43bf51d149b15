#include "recorder.h"

#include "channel_reading.h"
#include "csv_row_format.h"
#include "recording_writer.h"

#include <QDebug>
#include <QSemaphore>
#include <QThread>

#include <csignal>

namespace {

QString utc_time(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" UTC");
}

} // namespace

recorder::recorder(reading_source source, QObject* parent)
    : QObject(parent)
    , readings(std::move(source))
{
    // The default action of SIGXFSZ ends the process: polling, panels and the
    // settings with it. Ignored, the write fails with EFBIG and is handled.
    std::signal(SIGXFSZ, SIG_IGN);
    sample_timer.setInterval(default_interval_ms);
    connect(&sample_timer, &QTimer::timeout, this, &recorder::sample);
}

recorder::~recorder()
{
    shut_down();
    if (stalled_thread && !stalled_thread->wait(100)) {
        // Still inside a write at the end of the program: a running thread
        // cannot be destroyed, so it is kept (reachable) until the process ends.
        struct stalled_pair
        {
            std::unique_ptr<QThread> thread;
            std::unique_ptr<recording_writer> writer;
        };
        static auto* kept = new std::vector<stalled_pair>;
        kept->push_back({std::move(stalled_thread), std::move(stalled_writer)});
    }
}

void recorder::start_thread()
{
    thread = std::make_unique<QThread>();
    writer = std::make_unique<recording_writer>(handled);
    writer->moveToThread(thread.get());
    connect(thread.get(), &QThread::started, writer.get(), &recording_writer::sl_run);
    connect(this, &recorder::sig_open, writer.get(), &recording_writer::sl_open);
    connect(this, &recorder::sig_rows, writer.get(), &recording_writer::sl_write);
    connect(this, &recorder::sig_close, writer.get(), &recording_writer::sl_close);
    connect(writer.get(), &recording_writer::sig_opened, this, &recorder::sl_opened);
    connect(writer.get(), &recording_writer::sig_failed, this, &recorder::sl_writer_failed);
    connect(writer.get(), &recording_writer::sig_synced, this, &recorder::sl_synced);
    thread->start();
}

void recorder::run_on_writer(std::function<void()> job)
{
    if (!thread)
        start_thread();
    QMetaObject::invokeMethod(writer.get(), std::move(job), Qt::QueuedConnection);
}

void recorder::start(const QString& file)
{
    stop();
    if (!thread)
        start_thread();
    if (!clock.isValid())
        clock.start();
    ++session;
    running = true;
    file_path.clear();
    synced = 0;
    start_utc = QDateTime::currentDateTimeUtc();
    start_ms = clock.elapsed();
    emit sig_open(session, folder, file, start_utc, csv_row_format::header());
    sample();
    sample_timer.start();
}

void recorder::stop()
{
    if (!running)
        return;
    running = false;
    sample_timer.stop();
    emit sig_close(session);
    emit sig_stopped();
}

bool recorder::shut_down()
{
    stop();
    if (stalled_thread && stalled_thread->isFinished()) {
        stalled_writer.reset();
        stalled_thread.reset();
    }
    if (!thread)
        return !stalled_thread;
    // Waits until the writer has handled the rows and the close queued to it
    // (quit() alone may end its event loop before them), but not for ever: a
    // stalled disk must not hold the window open.
    QMetaObject::invokeMethod(writer.get(), &recording_writer::sl_stop, Qt::QueuedConnection);
    auto done = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(writer.get(), [done] { done->release(); }, Qt::QueuedConnection);
    if (!done->tryAcquire(1, close_wait_ms)) {
        forget_written();
        unwritten_text = tr("Recording: %1 not written to %2: the disk did not take them within %3 s.")
                             .arg(pending_text(), file_path.isEmpty() ? tr("the file") : file_path)
                             .arg(close_wait_ms / 1000);
        qWarning().noquote() << unwritten_text;
        // Neither can be destroyed while the writer is inside a write: the thread
        // ends after the rows queued to it, and both are kept until it has.
        QThread* left = thread.get();
        QMetaObject::invokeMethod(writer.get(), [left] { left->quit(); }, Qt::QueuedConnection);
        stalled_writer = std::move(writer);
        stalled_thread = std::move(thread);
        return false;
    }
    thread->quit();
    thread->wait();
    writer.reset();
    thread.reset();
    in_flight.clear();
    return true;
}

void recorder::sample()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const qint64 at = clock.elapsed();
    QByteArray rows;
    int count = 0;
    for (const channel_reading& r : readings()) {
        rows += csv_row_format::row(r, now, (at - start_ms) / 1000.0);
        ++count;
    }
    if (rows.isEmpty())
        return;
    forget_written();
    in_flight.push_back({next_batch, at, now, count});
    emit sig_rows(session, next_batch++, rows);
    if (behind_ms() > max_behind_ms)
        stop_behind();
}

void recorder::forget_written()
{
    const qint64 done = handled->load();
    while (!in_flight.empty() && in_flight.front().number <= done)
        in_flight.pop_front();
}

qint64 recorder::behind_ms() const
{
    const qint64 done = handled->load();
    for (const batch& b : in_flight) {
        if (b.number > done)
            return clock.elapsed() - b.sampled_ms;
    }
    return 0;
}

QString recorder::pending_text() const
{
    int rows = 0;
    for (const batch& b : in_flight)
        rows += b.rows;
    if (in_flight.empty())
        return tr("no rows");
    return (rows == 1 ? tr("%1 row sampled from %2 to %3") : tr("%1 rows sampled from %2 to %3"))
        .arg(QString::number(rows), utc_time(in_flight.front().utc), utc_time(in_flight.back().utc));
}

void recorder::stop_behind()
{
    const QString message =
        tr("Recording stopped: the disk has not taken the rows of the last %1 s (at most %2 s may wait). "
           "The %3 already waiting are written as the disk takes them; nothing later is recorded.")
            .arg(behind_ms() / 1000)
            .arg(max_behind_ms / 1000)
            .arg(pending_text());
    qWarning().noquote() << message;
    stop();
    emit sig_failed(message);
}

void recorder::sl_opened(int session_number, QString path)
{
    if (session_number != session || !running)
        return;
    file_path = path;
    emit sig_started(path);
}

void recorder::sl_writer_failed(int session_number, QString message)
{
    if (session_number != session || !running)
        return;
    running = false;
    sample_timer.stop();
    emit sig_failed(message);
}

void recorder::sl_synced(int session_number, qint64 bytes)
{
    if (session_number != session)
        return;
    synced = bytes;
    emit sig_synced(bytes);
}
