#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>

// Writes recordings on its own thread: opens the file (never over an existing
// one), appends the rows it is given and pushes them to the disk at least once
// a second. Any failure ends the recording and is reported; rows after it are
// dropped. Each recording carries a number so that late answers of an earlier
// one are told apart. Lives on the writer thread only.
class recording_writer : public QObject
{
    Q_OBJECT

public:
    // Name of a recording begun at `start`: 2026-12-06_152311.csv.
    static QString file_name(const QDateTime& start);
    // `path` with _2, _3, ... before its extension, for the n-th try (n >= 2).
    static QString numbered(const QString& path, int n);

signals:
    void sig_opened(int session, QString path);
    void sig_failed(int session, QString message);

public slots:
    // Entry point once the thread runs.
    void sl_run();
    // Opens `file`, or a new file named after `start` in `folder` when `file` is empty,
    // and writes `header` to it.
    void sl_open(int session, QString folder, QString file, QDateTime start, QByteArray header);
    void sl_write(int session, QByteArray rows);
    void sl_close(int session);

private:
    void fail(const QString& what);
    void sync();

    QFile out;
    int open_session = -1;
    QElapsedTimer since_sync;
};
