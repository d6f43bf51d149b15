#include "scpi_parser.h"

#include <QStringList>
#include <cmath>

namespace {

// The command tree. Upper-case letters make the short form of a mnemonic;
// '#' marks the channel number suffix.
enum class set_form { none, bare, with_value };

struct header_pattern
{
    const char* header;
    scpi_op op;
    bool query;
    set_form set;
};

constexpr set_form no = set_form::none;
constexpr set_form bare = set_form::bare;
constexpr set_form value = set_form::with_value;

const header_pattern patterns[] = {
    {"*IDN", scpi_op::idn, true, no},
    {"*CLS", scpi_op::cls, false, bare},
    {"*RST", scpi_op::rst, false, bare},
    {"*OPC", scpi_op::opc, true, bare},
    {"*WAI", scpi_op::wai, false, bare},
    {"*ESR", scpi_op::esr, true, no},
    {"*ESE", scpi_op::ese, true, value},
    {"*STB", scpi_op::stb, true, no},
    {"*SRE", scpi_op::sre, true, value},
    {"*TST", scpi_op::tst, true, no},
    {"SYSTem:VERSion", scpi_op::system_version, true, no},
    {"SYSTem:ERRor", scpi_op::system_error, true, no},
    {"SYSTem:ERRor:NEXT", scpi_op::system_error, true, no},
    {"SYSTem:ERRor:COUNt", scpi_op::system_error_count, true, no},
    {"SYSTem:ERRor:ALL", scpi_op::system_error_all, true, no},
    {"SYSTem:CONNected", scpi_op::system_connected, true, no},
    {"OUTPut:ALL", scpi_op::outputs_all, false, value},
    {"CHANnel#:NAME", scpi_op::name, true, no},
    {"CHANnel#:TYPE", scpi_op::type, true, no},
    {"CHANnel#:PRESent", scpi_op::present, true, no},
    {"CHANnel#:MEASure:CURRent", scpi_op::measure_current, true, no},
    {"CHANnel#:MEASure:TEMPerature", scpi_op::measure_temperature, true, no},
    {"CHANnel#:MEASure:POWer", scpi_op::measure_power, true, no},
    {"CHANnel#:MEASure:VOLTage", scpi_op::measure_voltage, true, no},
    {"CHANnel#:MEASure:INPut", scpi_op::measure_input, true, no},
    {"CHANnel#:CURRent", scpi_op::current, true, value},
    {"CHANnel#:TEMPerature", scpi_op::temperature, true, value},
    {"CHANnel#:VOLTage", scpi_op::voltage, true, value},
    {"CHANnel#:FREQuency", scpi_op::frequency, true, value},
    {"CHANnel#:PWIDth", scpi_op::pulse_width, true, value},
    {"CHANnel#:MODE", scpi_op::mode, true, value},
    {"CHANnel#:BURSt:N", scpi_op::burst_n, true, value},
    {"CHANnel#:BURSt:M", scpi_op::burst_m, true, value},
    {"CHANnel#:OUTPut", scpi_op::output, true, value},
    {"CHANnel#:FAULt", scpi_op::fault, true, no},
    {"CHANnel#:WARNing", scpi_op::warning, true, no},
    {"CHANnel#:BOARd", scpi_op::board, true, no},
    {"CHANnel#:ALARm", scpi_op::alarm, true, no},
    {"SYSTem:ALARm", scpi_op::system_alarm, true, no},
    {"SYSTem:ALARm:ACKnowledge", scpi_op::alarm_acknowledge, false, bare},
};

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
        if (c.query ? !p.query : p.set == no)
            break; // a query of a setting-only command or the other way round
        c.op = p.op;
        c.channel = channel;
        if ((c.query || p.set == bare) && c.has_argument)
            c.error = -108;
        else if (!c.query && p.set == value && !c.has_argument)
            c.error = -109;
        else if (c.has_argument && c.argument.contains(QLatin1Char(',')))
            c.error = -108;
        return c;
    }
    c.error = suffix_error ? -114 : -113;
    // Only printable characters go back to the client.
    for (const QChar ch : trimmed.left(40))
        c.error_detail += ch.isPrint() && ch != QChar::ReplacementCharacter ? ch : QLatin1Char('?');
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
