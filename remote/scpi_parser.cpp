#include "scpi_parser.h"

#include <QStringList>
#include <cmath>

namespace {

// The command tree. Upper-case letters make the short form of a mnemonic;
// '#' marks the channel number suffix.
struct header_pattern
{
    const char* header;
    scpi_op op;
    bool query;
    bool set;
};

const header_pattern patterns[] = {
    {"*IDN", scpi_op::idn, true, false},
    {"*CLS", scpi_op::cls, false, true},
    {"SYSTem:ERRor", scpi_op::system_error, true, false},
    {"SYSTem:ERRor:NEXT", scpi_op::system_error, true, false},
    {"SYSTem:CONNected", scpi_op::system_connected, true, false},
    {"OUTPut:ALL", scpi_op::outputs_all, false, true},
    {"CHANnel#:NAME", scpi_op::name, true, false},
    {"CHANnel#:TYPE", scpi_op::type, true, false},
    {"CHANnel#:PRESent", scpi_op::present, true, false},
    {"CHANnel#:MEASure:CURRent", scpi_op::measure_current, true, false},
    {"CHANnel#:MEASure:TEMPerature", scpi_op::measure_temperature, true, false},
    {"CHANnel#:MEASure:POWer", scpi_op::measure_power, true, false},
    {"CHANnel#:MEASure:VOLTage", scpi_op::measure_voltage, true, false},
    {"CHANnel#:MEASure:INPut", scpi_op::measure_input, true, false},
    {"CHANnel#:CURRent", scpi_op::current, true, true},
    {"CHANnel#:TEMPerature", scpi_op::temperature, true, true},
    {"CHANnel#:VOLTage", scpi_op::voltage, true, true},
    {"CHANnel#:FREQuency", scpi_op::frequency, true, true},
    {"CHANnel#:PWIDth", scpi_op::pulse_width, true, true},
    {"CHANnel#:MODE", scpi_op::mode, true, true},
    {"CHANnel#:BURSt:N", scpi_op::burst_n, true, true},
    {"CHANnel#:BURSt:M", scpi_op::burst_m, true, true},
    {"CHANnel#:OUTPut", scpi_op::output, true, true},
    {"CHANnel#:FAULt", scpi_op::fault, true, false},
    {"CHANnel#:WARNing", scpi_op::warning, true, false},
    {"CHANnel#:BOARd", scpi_op::board, true, false},
    {"CHANnel#:ALARm", scpi_op::alarm, true, false},
    {"SYSTem:ALARm", scpi_op::system_alarm, true, false},
    {"SYSTem:ALARm:ACKnowledge", scpi_op::alarm_acknowledge, false, true},
};

bool takes_no_argument(scpi_op op)
{
    return op == scpi_op::cls || op == scpi_op::alarm_acknowledge;
}

bool mnemonic_matches(const QString& pattern, const QString& word)
{
    QString short_form;
    for (const QChar c : pattern) {
        if (c.isUpper() || c == QLatin1Char('*'))
            short_form += c;
    }
    const QString upper = word.toUpper();
    return upper == short_form || upper == pattern.toUpper();
}

enum class node_match { no, yes, bad_suffix };

// One node of the received header against one of the pattern; `channel`
// takes the suffix of a '#' node.
node_match match_node(QString pattern, const QString& node, int& channel)
{
    int digits = 0;
    while (digits < node.size() && node[node.size() - 1 - digits].isDigit())
        ++digits;
    const QString word = node.left(node.size() - digits);
    const bool numbered = pattern.endsWith(QLatin1Char('#'));
    if (numbered)
        pattern.chop(1);
    if (word.isEmpty() || !mnemonic_matches(pattern, word))
        return node_match::no;
    if (!numbered)
        return digits == 0 ? node_match::yes : node_match::no;
    bool ok = false;
    channel = digits > 0 && digits <= 2 ? node.right(digits).toInt(&ok) : 0;
    return ok && channel >= 1 && channel <= scpi_parser::channel_count ? node_match::yes
                                                                       : node_match::bad_suffix;
}

} // namespace

QVector<scpi_command> scpi_parser::parse_line(const QString& line)
{
    QVector<scpi_command> commands;
    for (const QString& part : line.split(QLatin1Char(';'))) {
        if (!part.trimmed().isEmpty())
            commands << parse_command(part);
    }
    return commands;
}

scpi_command scpi_parser::parse_command(const QString& text)
{
    scpi_command c;
    const QString trimmed = text.trimmed();
    int split = 0;
    while (split < trimmed.size() && !trimmed[split].isSpace())
        ++split;
    QString header = trimmed.left(split);
    c.argument = trimmed.mid(split).trimmed();
    c.has_argument = !c.argument.isEmpty();
    c.query = header.endsWith(QLatin1Char('?'));
    if (c.query)
        header.chop(1);
    if (header.startsWith(QLatin1Char(':')))
        header.remove(0, 1);
    const QStringList nodes = header.split(QLatin1Char(':'));

    bool suffix_error = false;
    for (const header_pattern& p : patterns) {
        const QStringList wanted = QString::fromLatin1(p.header).split(QLatin1Char(':'));
        if (wanted.size() != nodes.size())
            continue;
        int channel = 0;
        bool all = true;
        for (int i = 0; i < nodes.size() && all; ++i) {
            const node_match m = match_node(wanted[i], nodes[i], channel);
            suffix_error = suffix_error || m == node_match::bad_suffix;
            all = m == node_match::yes;
        }
        if (!all)
            continue;
        if (c.query ? !p.query : !p.set)
            break; // a query of a setting-only command or the other way round
        c.op = p.op;
        c.channel = channel;
        if (c.query && c.has_argument)
            c.error = -108;
        else if (!c.query && takes_no_argument(p.op) && c.has_argument)
            c.error = -108;
        else if (!c.query && !takes_no_argument(p.op) && !c.has_argument)
            c.error = -109;
        else if (c.has_argument && c.argument.contains(QLatin1Char(',')))
            c.error = -108;
        return c;
    }
    c.error = suffix_error ? -114 : -113;
    // Only printable characters go back to the client.
    for (const QChar ch : trimmed.left(40))
        c.error_detail += ch.unicode() >= 0x20 && ch.unicode() < 0x7F ? ch : QLatin1Char('?');
    return c;
}

int scpi_parser::number(const scpi_command& c, double& value)
{
    if (!c.has_argument)
        return -109;
    bool ok = false;
    value = c.argument.toDouble(&ok);
    return ok && std::isfinite(value) ? 0 : -104;
}

int scpi_parser::boolean(const scpi_command& c, bool& value)
{
    if (!c.has_argument)
        return -109;
    const QString a = c.argument.toUpper();
    if (a == QLatin1String("ON") || a == QLatin1String("1"))
        value = true;
    else if (a == QLatin1String("OFF") || a == QLatin1String("0"))
        value = false;
    else
        return -224;
    return 0;
}
