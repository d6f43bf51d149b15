#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

// Appends the log's JSON lines to events.jsonl on a thread of its own. Only
// whole lines ever stay in the file: a line cut short by a full disk or a size
// limit is cut off again. What was written reaches the disk itself within a
// second. Past the size limit the file is rotated to events.1.jsonl (older ones
// to events.2 ... events.5, the oldest dropped). The first failure is reported
// and ends writing until the next open(). Lives on the writer thread only.
class event_file_writer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kept_files = 5;

    explicit event_file_writer(QObject* parent = nullptr);
    ~event_file_writer() override;

    // events.jsonl, events.1.jsonl, ... in `folder` (n = 0 for the current file).
    static QString file_path(const QString& folder, int n);

    // Opens (or appends to) events.jsonl in `folder`, which is made if missing.
    void open(const QString& folder, qint64 limit_bytes);
    // Whole lines, each ending in '\n'.
    void write(const QByteArray& lines);
    // Pushes what was written to the disk and closes the file.
    void close();

signals:
    void sig_failed(QString reason);

private:
    bool open_current();
    void drop_torn_tail();
    bool put(const char* data, qint64 n);
    bool rotate();
    void sync();
    void fail(const QString& reason);

    QString folder;
    qint64 limit = 0;
    int fd = -1;
    qint64 size = 0;  // bytes of whole lines in the file
    QTimer sync_timer;
};
