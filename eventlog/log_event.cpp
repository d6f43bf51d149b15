#include "log_event.h"

namespace {

// A JSON string literal: quotes, backslashes and control characters escaped,
// everything else as UTF-8.
void append_json_string(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "\\u00";
                out += hex[(c >> 4) & 0xf];
                out += hex[c & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

} // namespace

QString log_kind_name(log_kind kind)
{
    switch (kind) {
    case log_kind::connection: return QStringLiteral("connection");
    case log_kind::board: return QStringLiteral("board");
    case log_kind::output: return QStringLiteral("output");
    case log_kind::setpoint: return QStringLiteral("setpoint");
    case log_kind::parameter: return QStringLiteral("parameter");
    case log_kind::fault: return QStringLiteral("fault");
    case log_kind::alarm: return QStringLiteral("alarm");
    case log_kind::recording: return QStringLiteral("recording");
    case log_kind::remote: return QStringLiteral("remote");
    case log_kind::notice: return QStringLiteral("notice");
    }
    return QStringLiteral("notice");
}

QByteArray log_json_line(const log_event& event)
{
    QByteArray out;
    out.reserve(96 + event.origin.size() + event.text.size());
    out += "{\"utc\":\"";
    out += event.utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1();
    out += "\",\"kind\":\"";
    out += log_kind_name(event.kind).toLatin1();
    out += "\",\"channel\":";
    out += QByteArray::number(event.channel);
    out += ",\"origin\":";
    append_json_string(out, event.origin);
    out += ",\"text\":";
    append_json_string(out, event.text);
    out += "}\n";
    return out;
}
