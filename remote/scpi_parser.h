#pragma once

#include "scpi_command.h"

#include <QString>
#include <QVector>

// Turns a received line into commands: ';' separates them, each carries its
// full header (a leading ':' is allowed), headers are case-insensitive in
// their short (CHAN) or long (CHANNEL) form, a '?' makes a query, and one
// parameter may follow after white space. Numbers and booleans are read by
// the helpers below when the command runs.
class scpi_parser
{
public:
    static constexpr int channel_count = 10;

    static QVector<scpi_command> parse_line(const QString& line);
    static scpi_command parse_command(const QString& text);

    // A decimal number (sign, fraction, exponent); 0, or -109 when the
    // parameter is missing, -104 when it is no finite number.
    static int number(const scpi_command& c, double& value);
    // ON, OFF, 1 or 0; 0, -109 or -224.
    static int boolean(const scpi_command& c, bool& value);
};
