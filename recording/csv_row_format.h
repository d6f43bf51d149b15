#pragma once

#include <QByteArray>
#include <QDateTime>

struct channel_reading;

// One CSV line per channel reading: the same columns for every driver type,
// units in the header, each value with the decimals its board sends, a field
// left empty where the board's family has no such value or where the reading
// is not live (a board that stopped answering, or whose first replies are
// still coming in).
class csv_row_format
{
public:
    // The header line, ending in a newline.
    static QByteArray header();
    // The line of one channel at `utc`, `elapsed_s` after the recording began.
    static QByteArray row(const channel_reading& r, const QDateTime& utc, double elapsed_s);
    // A text field, quoted when it holds a separator, a quote or a line break.
    static QByteArray field(const QString& text);
    // `v` with `decimals` decimals; empty for a missing value or decimals < 0.
    static QByteArray number(double v, int decimals);
};
