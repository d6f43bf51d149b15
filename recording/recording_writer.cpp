#include "recording_writer.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace {

// A name is tried with this many numbers before the folder counts as unusable.
constexpr int max_tries = 1000;
// Rows reach the disk itself (not only the page cache) this often at most.
constexpr qint64 sync_ms = 1000;

} // namespace

QString recording_writer::file_name(const QDateTime& start)
{
    return start.toUTC().toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral(".csv");
}

QString recording_writer::numbered(const QString& path, int n)
{
    const QFileInfo info(path);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    const QString base = path.left(path.size() - suffix.size());
    return base + QLatin1Char('_') + QString::number(n) + suffix;
}

void recording_writer::sl_run()
{
    qDebug() << "recording writer running";
}

void recording_writer::sl_open(int session, QString folder, QString file, QDateTime start, QByteArray header)
{
    sl_close(open_session);
    open_session = session;
    QString path = file.isEmpty() ? QDir(folder).filePath(file_name(start)) : file;
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        fail(tr("Recording not started: cannot create the folder %1").arg(dir));
        return;
    }
    // NewOnly: an existing file is never opened, whoever made it meanwhile.
    const QString first = path;
    for (int n = 2; n <= max_tries; ++n) {
        out.setFileName(path);
        if (out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            break;
        if (!QFileInfo::exists(path)) {
            fail(tr("Recording not started: cannot create %1: %2").arg(path, out.errorString()));
            return;
        }
        path = numbered(first, n);
    }
    if (!out.isOpen()) {
        fail(tr("Recording not started: every name like %1 is taken").arg(first));
        return;
    }
    qDebug() << "recording to" << out.fileName();
    emit sig_opened(session, QFileInfo(out.fileName()).absoluteFilePath());
    since_sync.start();
    sl_write(session, header);
}

void recording_writer::sl_write(int session, QByteArray rows)
{
    if (session != open_session || !out.isOpen())
        return;
    // Unbuffered: a full disk or a size limit shows at this very write.
    if (out.write(rows) != rows.size()) {
        fail(tr("Recording stopped: cannot write %1: %2").arg(out.fileName(), out.errorString()));
        return;
    }
    // The file still being there is the only sign of a removed folder: writes
    // to an unlinked file succeed and go nowhere.
    if (!QFileInfo::exists(out.fileName())) {
        fail(tr("Recording stopped: %1 was removed").arg(out.fileName()));
        return;
    }
    if (since_sync.elapsed() >= sync_ms)
        sync();
}

void recording_writer::sl_close(int session)
{
    if (session != open_session || !out.isOpen())
        return;
    sync();
    out.close();
    qDebug() << "recording closed";
}

void recording_writer::fail(const QString& what)
{
    qDebug().noquote() << what;
    if (out.isOpen())
        out.close();
    emit sig_failed(open_session, what);
}

void recording_writer::sync()
{
    ::fdatasync(out.handle());
    since_sync.restart();
}
