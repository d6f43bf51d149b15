#include "pty_port.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

pty_port::~pty_port()
{
    close();
}

bool pty_port::fail(const QString& what)
{
    last_error = what + ": " + QString::fromLocal8Bit(std::strerror(errno));
    close();
    return false;
}

bool pty_port::open(const QString& path)
{
    close();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return fail("posix_openpt");
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return fail("unlockpt");
    char name[128] = {};
    if (::ptsname_r(master, name, sizeof name) != 0)
        return fail("ptsname");
    slave_path = QString::fromLocal8Bit(name);
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail("open slave");
    // A fresh terminal echoes and edits lines; a serial line does neither.
    termios tio{};
    if (::tcgetattr(slave, &tio) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&tio);
    if (::tcsetattr(slave, TCSANOW, &tio) != 0)
        return fail("tcsetattr");

    const QString abs = QFileInfo(path).absoluteFilePath();
    QDir().mkpath(QFileInfo(abs).absolutePath());
    const QByteArray link_bytes = QFile::encodeName(abs);
    ::unlink(link_bytes.constData());
    if (::symlink(name, link_bytes.constData()) != 0)
        return fail("symlink " + abs);
    link_path = abs;
    return true;
}

void pty_port::close()
{
    if (!link_path.isEmpty()) {
        ::unlink(QFile::encodeName(link_path).constData());
        link_path.clear();
    }
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = -1;
    master = -1;
}
