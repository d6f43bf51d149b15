#include "event_file_writer.h"

#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Lines written reach the disk itself within this time.
constexpr int sync_ms = 1000;

QString errno_text(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

} // namespace

event_file_writer::event_file_writer(QObject* parent)
    : QObject(parent)
    , sync_timer(this)
{
    sync_timer.setSingleShot(true);
    sync_timer.setInterval(sync_ms);
    connect(&sync_timer, &QTimer::timeout, this, &event_file_writer::sync);
}

event_file_writer::~event_file_writer()
{
    close();
}

QString event_file_writer::file_path(const QString& folder, int n)
{
    const QString name = n == 0 ? QStringLiteral("events.jsonl")
                                : QStringLiteral("events.%1.jsonl").arg(n);
    return QDir(folder).filePath(name);
}

void event_file_writer::open(const QString& folder_path, qint64 limit_bytes)
{
    close();
    folder = folder_path;
    limit = limit_bytes;
    if (!QDir().mkpath(folder)) {
        fail(tr("Event log file not written: cannot create the folder %1").arg(folder));
        return;
    }
    open_current();
}

bool event_file_writer::open_current()
{
    const QString path = file_path(folder, 0);
    fd = ::open(native(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        fail(tr("Event log file not written: cannot open %1: %2").arg(path, errno_text(errno)));
        return false;
    }
    drop_torn_tail();
    return fd >= 0;
}

// A crash or a power cut may leave half a line (or zeros) at the end; it is cut
// back to the last newline so that the next line starts on a line of its own.
void event_file_writer::drop_torn_tail()
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        fail(tr("Event log file not written: %1").arg(errno_text(errno)));
        return;
    }
    const int rfd = ::open(native(file_path(folder, 0)).constData(), O_RDONLY | O_CLOEXEC);
    if (rfd < 0) {
        fail(tr("Event log file not written: cannot read %1: %2").arg(file_path(folder, 0), errno_text(errno)));
        return;
    }
    qint64 end = st.st_size;
    char block[4096];
    while (end > 0) {
        const qint64 start = qMax<qint64>(0, end - qint64(sizeof block));
        const ssize_t got = ::pread(rfd, block, size_t(end - start), start);
        if (got != end - start)
            break;
        const void* nl = ::memrchr(block, '\n', size_t(got));
        if (nl) {
            end = start + (static_cast<const char*>(nl) - block) + 1;
            break;
        }
        end = start;
    }
    ::close(rfd);
    if (end != st.st_size && ::ftruncate(fd, end) != 0) {
        fail(tr("Event log file not written: cannot repair %1: %2").arg(file_path(folder, 0), errno_text(errno)));
        return;
    }
    size = end;
}

void event_file_writer::write(const QByteArray& lines)
{
    const char* data = lines.constData();
    const qint64 total = lines.size();
    qint64 pos = 0;
    while (fd >= 0 && pos < total) {
        // As many whole lines as fit under the limit; a line longer than the
        // limit still goes alone into a fresh file.
        qint64 end = pos;
        while (end < total) {
            const void* nl = std::memchr(data + end, '\n', size_t(total - end));
            const qint64 next = nl ? static_cast<const char*>(nl) - data + 1 : total;
            if (size + (next - pos) > limit && (size > 0 || end > pos))
                break;
            end = next;
        }
        if (end == pos) {
            if (!rotate())
                return;
            continue;
        }
        if (!put(data + pos, end - pos))
            return;
        pos = end;
    }
}

// One write() per chunk of whole lines. After a short write the rest is tried,
// which says why the file stopped growing; what part of a line was written
// then is cut off again before the failure is reported.
bool event_file_writer::put(const char* data, qint64 n)
{
    qint64 done = 0;
    while (done < n) {
        const ssize_t w = ::write(fd, data + done, size_t(n - done));
        if (w > 0) {
            done += w;
            continue;
        }
        const int err = w < 0 ? errno : ENOSPC;
        if (err == EINTR)
            continue;
        const void* nl = ::memrchr(data, '\n', size_t(done));
        size += nl ? static_cast<const char*>(nl) - data + 1 : 0;
        const QString cut = ::ftruncate(fd, size) == 0 ? QString() : tr(" (a torn line remains: %1)").arg(errno_text(errno));
        fail(tr("Event log file stopped: cannot write %1: %2%3").arg(file_path(folder, 0), errno_text(err), cut));
        return false;
    }
    size += n;
    if (!sync_timer.isActive())
        sync_timer.start();
    return true;
}

bool event_file_writer::rotate()
{
    sync();
    if (fd < 0)
        return false;
    ::close(fd);
    fd = -1;
    // rename() replaces events.5.jsonl, the oldest.
    for (int n = kept_files - 1; n >= 0; --n) {
        const QByteArray from = native(file_path(folder, n));
        if (::rename(from.constData(), native(file_path(folder, n + 1)).constData()) != 0 && errno != ENOENT) {
            fail(tr("Event log file stopped: cannot rename %1: %2").arg(file_path(folder, n), errno_text(errno)));
            return false;
        }
    }
    // The renames themselves survive a power cut only once the folder is synced.
    const int dfd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return open_current();
}

void event_file_writer::sync()
{
    sync_timer.stop();
    if (fd >= 0 && ::fdatasync(fd) != 0)
        fail(tr("Event log file stopped: cannot write %1 to the disk: %2").arg(file_path(folder, 0), errno_text(errno)));
}

void event_file_writer::close()
{
    if (fd < 0)
        return;
    sync();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void event_file_writer::fail(const QString& reason)
{
    qDebug().noquote() << reason;
    sync_timer.stop();
    if (fd >= 0)
        ::close(fd);
    fd = -1;
    emit sig_failed(reason);
}
