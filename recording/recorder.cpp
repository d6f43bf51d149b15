#include "recorder.h"

#include "channel_reading.h"
#include "csv_row_format.h"
#include "recording_writer.h"

#include <QThread>

recorder::recorder(reading_source source, QObject* parent)
    : QObject(parent)
    , readings(std::move(source))
{
    sample_timer.setInterval(default_interval_ms);
    connect(&sample_timer, &QTimer::timeout, this, &recorder::sample);
}

recorder::~recorder()
{
    shut_down();
}

void recorder::start_thread()
{
    thread = std::make_unique<QThread>();
    writer = std::make_unique<recording_writer>();
    writer->moveToThread(thread.get());
    connect(thread.get(), &QThread::started, writer.get(), &recording_writer::sl_run);
    connect(this, &recorder::sig_open, writer.get(), &recording_writer::sl_open);
    connect(this, &recorder::sig_rows, writer.get(), &recording_writer::sl_write);
    connect(this, &recorder::sig_close, writer.get(), &recording_writer::sl_close);
    connect(writer.get(), &recording_writer::sig_opened, this, &recorder::sl_opened);
    connect(writer.get(), &recording_writer::sig_failed, this, &recorder::sl_writer_failed);
    thread->start();
}

void recorder::start(const QString& file)
{
    stop();
    if (!thread)
        start_thread();
    ++session;
    running = true;
    file_path.clear();
    start_utc = QDateTime::currentDateTimeUtc();
    clock.start();
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

void recorder::shut_down()
{
    stop();
    if (!thread)
        return;
    // Waits until the writer has handled the rows and the close queued to it:
    // quit() alone may end its event loop before them.
    QMetaObject::invokeMethod(writer.get(), [] {}, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    writer.reset();
    thread.reset();
}

void recorder::sample()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const double elapsed_s = clock.elapsed() / 1000.0;
    QByteArray rows;
    for (const channel_reading& r : readings())
        rows += csv_row_format::row(r, now, elapsed_s);
    if (!rows.isEmpty())
        emit sig_rows(session, rows);
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
