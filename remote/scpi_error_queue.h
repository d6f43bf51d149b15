#pragma once

#include <QString>
#include <deque>

// The instrument's error queue, oldest first. A full queue keeps its oldest
// entries and turns its last one into -350 "Queue overflow", so a script
// reading it learns that errors were lost.
class scpi_error_queue
{
public:
    static constexpr int capacity = 16;

    // code as SCPI numbers it (-113, -222, ...); detail is appended after ';'.
    void push(int code, const QString& detail = QString());
    // "<code>,\"<text>\"", or 0,"No error" when empty.
    QString pop();
    void clear() { entries.clear(); }
    int size() const { return int(entries.size()); }

    // The standard text of an error code.
    static QString text(int code);

private:
    std::deque<QString> entries;
};
