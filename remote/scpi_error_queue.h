#pragma once

#include <QString>
#include <deque>

// The instrument's error queue, oldest first. An error that finds the queue
// full replaces its newest entry with -350 "Queue overflow", so a script
// reading it learns that errors were lost, and where.
class scpi_error_queue
{
public:
    static constexpr int capacity = 16;

    // code as SCPI numbers it (-113, -222, ...); detail is appended after ';'.
    // False when the queue was full and -350 took the newest place.
    bool push(int code, const QString& detail = QString());
    // "<code>,\"<text>\"", or 0,"No error" when empty.
    QString pop();
    // Every entry, oldest first, separated by ','; 0,"No error" when empty.
    QString pop_all();
    void clear() { entries.clear(); }
    int size() const { return int(entries.size()); }
    // The latest entry as pop() would give it, or "" when empty.
    QString newest() const { return entries.empty() ? QString() : entries.back(); }

    // The standard text of an error code.
    static QString text(int code);

private:
    std::deque<QString> entries;
};
