#include "event_log.h"

#include "event_file_writer.h"

#include <QDebug>
#include <QThread>
#include <QTimer>

namespace {

// shut_down() waits this long at most for the disk.
constexpr unsigned long shut_down_wait_ms = 2000;

} // namespace

event_log::event_log(QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<log_event>();
}

event_log::~event_log()
{
    shut_down();
}

void event_log::add(log_event event)
{
    if (event.utc.isNull())
        event.utc = QDateTime::currentDateTimeUtc();
    else
        event.utc = event.utc.toUTC();
    if (writer) {
        pending += log_json_line(event);
        if (!hand_over_queued) {
            hand_over_queued = true;
            QTimer::singleShot(0, this, &event_log::hand_over);
        }
    }
    events.push_back(event);
    while (int(events.size()) > memory_cap)
        events.pop_front();
    emit sig_added(event);
}

void event_log::add(log_kind kind, int channel, const QString& origin, const QString& text)
{
    add(log_event{QDateTime(), kind, channel, origin, text});
}

std::vector<log_event> event_log::recent(int n) const
{
    const int count = qBound(0, n, int(events.size()));
    return std::vector<log_event>(events.end() - count, events.end());
}

void event_log::set_memory_limit(int n)
{
    memory_cap = qMax(1, n);
    while (int(events.size()) > memory_cap)
        events.pop_front();
}

void event_log::start_file(const QString& folder, qint64 limit_bytes)
{
    if (!thread) {
        thread = std::make_unique<QThread>();
        thread->setObjectName(QStringLiteral("event log writer"));
        writer = std::make_unique<event_file_writer>();
        writer->moveToThread(thread.get());
        connect(writer.get(), &event_file_writer::sig_failed, this, &event_log::sl_writer_failed);
        thread->start();
    }
    // Lines of the previous file go there before it is closed.
    hand_over();
    file_failed = false;
    path = event_file_writer::file_path(folder, 0);
    event_file_writer* w = writer.get();
    QMetaObject::invokeMethod(w, [w, folder, limit_bytes] { w->open(folder, limit_bytes); },
        Qt::QueuedConnection);
}

void event_log::hand_over()
{
    hand_over_queued = false;
    if (pending.isEmpty() || !writer)
        return;
    event_file_writer* w = writer.get();
    QMetaObject::invokeMethod(w, [w, lines = std::move(pending)] { w->write(lines); },
        Qt::QueuedConnection);
    pending.clear();
}

void event_log::shut_down()
{
    if (!thread)
        return;
    hand_over();
    // Closing and quitting from the writer's own queue: everything handed over
    // before is written first.
    event_file_writer* w = writer.get();
    QThread* t = thread.get();
    QMetaObject::invokeMethod(w, [w, t] { w->close(); t->quit(); }, Qt::QueuedConnection);
    if (!thread->wait(shut_down_wait_ms)) {
        // The disk hangs; the window does not wait for it. The writer and its
        // thread delete themselves once the disk answers.
        qWarning() << "event log: the writer did not finish within" << shut_down_wait_ms << "ms";
        disconnect(writer.get(), nullptr, this, nullptr);
        event_file_writer* stuck_writer = writer.release();
        QThread* stuck_thread = thread.release();
        connect(stuck_thread, &QThread::finished, stuck_writer, &QObject::deleteLater);
        connect(stuck_thread, &QThread::finished, stuck_thread, &QObject::deleteLater);
    }
    writer.reset();
    thread.reset();
    path.clear();
}

void event_log::sl_writer_failed(QString reason)
{
    if (file_failed)
        return;
    file_failed = true;
    emit sig_file_failed(reason);
}
