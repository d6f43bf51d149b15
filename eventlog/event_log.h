#pragma once

#include "log_event.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

class QThread;
class event_file_writer;

// The program's event log, on the GUI thread: keeps the latest events in memory
// for the Log page and, once start_file() was called, appends them as JSON lines
// to events.jsonl through a writer thread. add() never touches the disk: the
// lines of one pass of the event loop are handed over together afterwards.
class event_log : public QObject
{
    Q_OBJECT

public:
    static constexpr int default_memory_limit = 10000;
    static constexpr qint64 default_file_limit = 10 * 1024 * 1024;

    explicit event_log(QObject* parent = nullptr);
    ~event_log() override;

    // Stamps the event with the current time when its utc is null.
    void add(log_event event);
    void add(log_kind kind, int channel, const QString& origin, const QString& text);

    // The last n events (fewer when the log holds fewer), oldest first.
    std::vector<log_event> recent(int n) const;
    int size() const { return int(events.size()); }
    // Events kept in memory; the oldest go first.
    int memory_limit() const { return memory_cap; }
    void set_memory_limit(int n);

    // Appends to events.jsonl in `folder` (made if missing) from now on; the file
    // is rotated when it would grow beyond `limit_bytes`. A file being written is
    // closed first. Events added before are not written.
    void start_file(const QString& folder, qint64 limit_bytes = default_file_limit);
    // Writes what is queued and ends the writer thread, waiting 2 s at most.
    // Events added afterwards are kept in memory only.
    void shut_down();
    // The file being written to ("" when none).
    QString file_path() const { return path; }

signals:
    void sig_added(log_event event);
    // Writing the file failed (once per start_file()); memory logging goes on.
    void sig_file_failed(QString reason);

private:
    void hand_over();
    void sl_writer_failed(QString reason);

    std::deque<log_event> events;
    int memory_cap = default_memory_limit;
    QString path;
    QByteArray pending;  // lines not yet handed to the writer
    bool hand_over_queued = false;
    bool file_failed = false;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<event_file_writer> writer;
};
