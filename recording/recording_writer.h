#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <memory>

// Writes recordings on its own thread: opens the file (never over an existing
// one), appends whole rows and pushes them to the disk at least once a second,
// by a timer, whether rows come or not. A failed or short write is cut back to
// the last whole row, so the file never ends in a torn row; any failure ends
// the recording and is reported with the system's reason. Each recording
// carries a number so that late answers of an earlier one are told apart.
// Lives on the writer thread only.
class recording_writer : public QObject
{
    Q_OBJECT

public:
    // How often written rows are pushed to the disk itself.
    static constexpr int sync_ms = 500;

    // `handled` takes the number of every batch of rows once it is written
    // (or dropped after a failure): the recorder reads it without waiting.
    explicit recording_writer(std::shared_ptr<std::atomic<qint64>> handled);

    // Name of a recording begun at `start`: 2026-12-06_152311.csv.
    static QString file_name(const QDateTime& start);
    // `path` with _2, _3, ... before its extension, for the n-th try (n >= 2).
    static QString numbered(const QString& path, int n);

signals:
    void sig_opened(int session, QString path);
    void sig_failed(int session, QString message);
    // Everything up to `bytes` of the file has reached the disk.
    void sig_synced(int session, qint64 bytes);

public slots:
    // Entry point once the thread runs.
    void sl_run();
    // Opens `file`, or a new file named after `start` in `folder` when `file` is
    // empty or names a folder (an existing one, or a path ending in '/'), and
    // writes `header` to it.
    void sl_open(int session, QString folder, QString file, QDateTime start, QByteArray header);
    void sl_write(int session, qint64 batch, QByteArray rows);
    void sl_close(int session);
    // Before the thread ends: its timer cannot be stopped from another thread.
    void sl_stop() { sync_timer.stop(); }

private:
    // Appends all of `bytes` or, on failure, nothing; errno tells why.
    bool append(const QByteArray& bytes);
    void fail(const QString& what);
    void sync();
    void close_file();

    std::shared_ptr<std::atomic<qint64>> handled_batch;
    QTimer sync_timer{this};
    int fd = -1;
    QString path;
    qint64 whole_rows_end = 0; // file size up to the last whole row
    qint64 synced_end = 0;
    int open_session = -1;
};
