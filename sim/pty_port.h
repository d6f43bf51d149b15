#pragma once

#include <QString>

// A pseudo-terminal whose slave side is published under a symlink, so that a
// serial port library can open it by a stable name. The slave stays open
// here as well: without it, reads on the master fail while no one else has
// the slave open. Both sides are raw (no echo, no line editing).
class pty_port
{
public:
    pty_port() = default;
    pty_port(const pty_port&) = delete;
    pty_port& operator=(const pty_port&) = delete;
    ~pty_port();

    // Creates the pseudo-terminal and the link (its directory too). A stale
    // link at the path is replaced. Returns false with error() set on failure.
    bool open(const QString& link_path);
    // Closes both sides and removes the link; the other end sees a hang-up.
    void close();

    bool is_open() const { return master >= 0; }
    int master_fd() const { return master; }
    QString slave_name() const { return slave_path; }
    QString link() const { return link_path; }
    QString error() const { return last_error; }

private:
    bool fail(const QString& what);

    int master = -1;
    int slave = -1;
    QString slave_path;
    QString link_path;
    QString last_error;
};
