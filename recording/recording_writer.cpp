#include "recording_writer.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A name is tried with this many numbers before the folder counts as unusable.
constexpr int max_tries = 1000;

QString reason(int error)
{
    return qt_error_string(error);
}

// Makes the folder entry of a new file (and of folders made for it) durable:
// without it a power cut can lose the whole file, synced data and all.
void sync_folder(const QString& dir)
{
    const int d = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d < 0)
        return;
    ::fsync(d);
    ::close(d);
}

} // namespace

recording_writer::recording_writer(std::shared_ptr<std::atomic<qint64>> handled)
    : handled_batch(std::move(handled))
{
    sync_timer.setInterval(sync_ms);
    connect(&sync_timer, &QTimer::timeout, this, &recording_writer::sync);
}

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
    sync_timer.start();
}

void recording_writer::sl_open(int session, QString folder, QString file, QDateTime start, QByteArray header)
{
    sl_close(open_session);
    open_session = session;
    if (!file.isEmpty() && (file.endsWith(QLatin1Char('/')) || QFileInfo(file).isDir())) {
        folder = file;
        file.clear();
    }
    QString wanted = file.isEmpty() ? QDir(folder).filePath(file_name(start)) : file;
    const QString dir = QFileInfo(wanted).absolutePath();
    // The folders this recording makes: their entries are synced too.
    QString existing = dir;
    while (!QFileInfo::exists(existing) && !QDir(existing).isRoot())
        existing = QFileInfo(existing).absolutePath();
    if (!QDir().mkpath(dir)) {
        fail(tr("Recording not started: cannot create the folder %1").arg(dir));
        return;
    }
    // O_EXCL: an existing file is never opened, whoever made it meanwhile.
    const QString first = wanted;
    int error = 0;
    for (int n = 2; n <= max_tries && fd < 0; ++n) {
        fd = ::open(QFile::encodeName(wanted).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        error = errno;
        if (fd < 0 && error != EEXIST) {
            fail(tr("Recording not started: cannot create %1: %2").arg(wanted, reason(error)));
            return;
        }
        if (fd < 0)
            wanted = numbered(first, n);
    }
    if (fd < 0) {
        fail(tr("Recording not started: every name like %1 is taken").arg(first));
        return;
    }
    path = QFileInfo(wanted).absoluteFilePath();
    whole_rows_end = synced_end = 0;
    for (QString d = dir; ; d = QFileInfo(d).absolutePath()) {
        sync_folder(d);
        if (d == existing || QDir(d).isRoot())
            break;
    }
    qDebug() << "recording to" << path;
    emit sig_opened(session, path);
    if (!append(header))
        fail(tr("Recording stopped: cannot write %1: %2").arg(path, reason(errno)));
}

bool recording_writer::append(const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
    if (left == 0) {
        whole_rows_end += bytes.size();
        return true;
    }
    // A cut row could read as a valid row with a shortened value: the file is
    // put back to its last whole row (shrinking is allowed past a size limit
    // and frees the space of a full disk).
    const int error = errno ? errno : ENOSPC;
    if (::ftruncate(fd, whole_rows_end) != 0)
        qWarning().noquote() << "cannot cut" << path << "back to its last whole row:" << reason(errno);
    errno = error;
    return false;
}

void recording_writer::sl_write(int session, qint64 batch, QByteArray rows)
{
    if (session == open_session && fd >= 0) {
        errno = 0;
        struct stat st{};
        if (!append(rows))
            fail(tr("Recording stopped: cannot write %1: %2").arg(path, reason(errno)));
        // Writes to a file whose folder was removed succeed and go nowhere.
        else if (::fstat(fd, &st) == 0 && st.st_nlink == 0)
            fail(tr("Recording stopped: %1 was removed").arg(path));
    }
    handled_batch->store(batch);
}

void recording_writer::sl_close(int session)
{
    if (session != open_session || fd < 0)
        return;
    sync();
    close_file();
    qDebug() << "recording closed";
}

void recording_writer::close_file()
{
    ::close(fd);
    fd = -1;
}

void recording_writer::fail(const QString& what)
{
    qDebug().noquote() << what;
    if (fd >= 0) {
        sync();
        close_file();
    }
    emit sig_failed(open_session, what);
}

void recording_writer::sync()
{
    if (fd < 0 || synced_end == whole_rows_end)
        return;
    ::fdatasync(fd);
    synced_end = whole_rows_end;
    emit sig_synced(open_session, synced_end);
}
