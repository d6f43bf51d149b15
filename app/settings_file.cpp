#include "settings_file.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QSaveFile>
#include <QStringList>

namespace {

QString channel_suffix_for(int index)
{
    return index == 0 ? QString() : QStringLiteral("_%1").arg(index + 1);
}

QString valid_port_speed(const QString& text)
{
    bool ok = false;
    const int speed = text.trimmed().toInt(&ok, 10);
    return ok && speed > 0 ? text.trimmed() : QLatin1String(stored_settings::default_port_speed);
}

// A CAN ID text as the ID field would accept it (0..255, base 10); anything
// else reads as a missing key would, empty, rather than as an ID no board has.
QString valid_can_id(const QString& text)
{
    bool ok = false;
    const int id = text.trimmed().toInt(&ok, 10);
    return ok && id >= 0 && id <= 255 ? QString::number(id) : QString();
}

// A TCP port number 1..65535, else the default one.
QString valid_remote_port(const QString& text)
{
    bool ok = false;
    const int port = text.trimmed().toInt(&ok, 10);
    return ok && port >= 1 && port <= 65535 ? QString::number(port)
                                            : QString::number(stored_settings::default_remote_port);
}

bool is_hex_digit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// A text value that the INI reader gives back unchanged: quoted, backslash,
// quote and control characters escaped, a leading '@' (the reader's type
// marker) doubled. A hex escape runs on over hex digits, so a hex digit right
// after one is escaped as well.
QString quoted(const QString& text)
{
    QString out(QLatin1Char('"'));
    if (text.startsWith(QLatin1Char('@')))
        out += QLatin1Char('@');
    bool after_hex_escape = false;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (after_hex_escape && is_hex_digit(c))) {
            out += QStringLiteral("\\x") + QString::number(c.unicode(), 16);
            after_hex_escape = true;
            continue;
        }
        after_hex_escape = false;
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        out += c;
    }
    return out + QLatin1Char('"');
}

QString flag(bool on)
{
    return on ? QStringLiteral("true") : QStringLiteral("false");
}

// "group/key" and its value as a line of the group's section.
void put(QString& section, const QString& key, const QString& value)
{
    section += key.section(QLatin1Char('/'), 1) + QLatin1Char('=') + value + QLatin1Char('\n');
}

} // namespace

settings_file::settings_file(const QString& path)
    : store(path, QSettings::IniFormat)
{
    // Files of earlier versions escaped every non-ASCII character, so they read the same.
    store.setIniCodec("UTF-8");
}

QString settings_file::path() const
{
    return QFileInfo(store.fileName()).absoluteFilePath();
}

QString settings_file::enabled_key(int index)
{
    return index == 0 ? QStringLiteral("device_conf/channel_enabled")
                      : QStringLiteral("device_conf/channel_%1_enabled").arg(index + 1);
}

QString settings_file::name_key(int index)
{
    return QStringLiteral("device_conf/edit_name") + channel_suffix_for(index);
}

QString settings_file::addr_key(int index)
{
    return QStringLiteral("device_conf/addr") + channel_suffix_for(index);
}

bool settings_file::load(stored_settings& s) const
{
    if (store.value(QStringLiteral("settings/available")).toInt() != 1)
        return false;
    s.port_name = store.value(QStringLiteral("serial/portname")).toString();
    s.port_speed = valid_port_speed(store.value(QStringLiteral("serial/portspeed")).toString());
    if (!mini_usb() && s.port_speed == QLatin1String(stored_settings::mini_usb_port_speed))
        s.port_speed = QLatin1String(stored_settings::default_port_speed);
    s.auto_connection = store.value(QStringLiteral("serial/connection_mode"), false).toBool();
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].enabled = store.value(enabled_key(i), false).toBool();
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].name = text_value(name_key(i));
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].addr = valid_can_id(store.value(addr_key(i)).toString());
    s.remote_enabled = store.value(QStringLiteral("remote/enabled"), false).toBool();
    s.remote_port = valid_remote_port(store.value(QStringLiteral("remote/port")).toString());
    s.tango_enabled = store.value(QStringLiteral("tango/enabled"), false).toBool();
    s.tango_instance = text_value(QStringLiteral("tango/instance"));
    s.tango_port = store.value(QStringLiteral("tango/port")).toString();
    s.tango_endpoint = store.value(QStringLiteral("tango/endpoint"), s.tango_endpoint).toString();
    s.tango_readonly = store.value(QStringLiteral("tango/readonly"), false).toBool();
    return true;
}

QString settings_file::text_value(const QString& key) const
{
    const QVariant value = store.value(key);
    if (value.type() != QVariant::StringList)
        return value.toString();
    QFile file(store.fileName());
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QString group = QLatin1Char('[') + key.section(QLatin1Char('/'), 0, 0) + QLatin1Char(']');
    const QString name = key.section(QLatin1Char('/'), 1);
    bool in_group = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            in_group = line == group;
        else if (in_group && line.section(QLatin1Char('='), 0, 0).trimmed() == name)
            return line.section(QLatin1Char('='), 1).trimmed();
    }
    return QString();
}

bool settings_file::mini_usb() const
{
    return store.value(QStringLiteral("device_conf/mini_usb"), false).toBool();
}

bool settings_file::save(const stored_settings& s, QString& why)
{
    QString serial;
    put(serial, QStringLiteral("serial/portname"), quoted(s.port_name));
    put(serial, QStringLiteral("serial/portspeed"), quoted(s.port_speed));
    put(serial, QStringLiteral("serial/connection_mode"), flag(s.auto_connection));
    QString conf;
    for (int i = 0; i < stored_settings::channel_count; ++i)
        put(conf, enabled_key(i), flag(s.rows[i].enabled));
    for (int i = 0; i < stored_settings::channel_count; ++i)
        put(conf, name_key(i), quoted(s.rows[i].name));
    for (int i = 0; i < stored_settings::channel_count; ++i)
        put(conf, addr_key(i), quoted(s.rows[i].addr));
    put(conf, QStringLiteral("device_conf/mini_usb"), flag(s.mini_usb));
    QString remote;
    put(remote, QStringLiteral("remote/enabled"), flag(s.remote_enabled));
    put(remote, QStringLiteral("remote/port"), quoted(s.remote_port));
    QString tango;
    put(tango, QStringLiteral("tango/enabled"), flag(s.tango_enabled));
    put(tango, QStringLiteral("tango/instance"), quoted(s.tango_instance));
    put(tango, QStringLiteral("tango/port"), quoted(s.tango_port));
    put(tango, QStringLiteral("tango/endpoint"), quoted(s.tango_endpoint));
    put(tango, QStringLiteral("tango/readonly"), flag(s.tango_readonly));
    QString marker;
    put(marker, QStringLiteral("settings/available"), QStringLiteral("1"));

    // Keys the program does not write itself (a note by hand, a later
    // version's) are kept, as text, in their groups.
    QMap<QString, QString> sections{{QStringLiteral("serial"), serial},
                                    {QStringLiteral("device_conf"), conf},
                                    {QStringLiteral("remote"), remote},
                                    {QStringLiteral("tango"), tango},
                                    {QStringLiteral("settings"), marker}};
    QSet<QString> ours{QStringLiteral("serial/portname"), QStringLiteral("serial/portspeed"),
                       QStringLiteral("serial/connection_mode"), QStringLiteral("device_conf/mini_usb"),
                       QStringLiteral("settings/available"), QStringLiteral("remote/enabled"),
                       QStringLiteral("remote/port"), QStringLiteral("tango/enabled"),
                       QStringLiteral("tango/instance"), QStringLiteral("tango/port"),
                       QStringLiteral("tango/endpoint"), QStringLiteral("tango/readonly")};
    for (int i = 0; i < stored_settings::channel_count; ++i)
        ours << enabled_key(i) << name_key(i) << addr_key(i);
    for (const QString& key : store.allKeys()) {
        if (ours.contains(key))
            continue;
        const QString group = key.contains(QLatin1Char('/')) ? key.section(QLatin1Char('/'), 0, 0)
                                                             : QStringLiteral("General");
        put(sections[group], group + QLatin1Char('/') + key.section(QLatin1Char('/'), -1), quoted(text_value(key)));
    }
    QString text;
    for (const QString& group : {QStringLiteral("serial"), QStringLiteral("device_conf"), QStringLiteral("settings")})
        text += QLatin1Char('[') + group + QStringLiteral("]\n") + sections.take(group) + QLatin1Char('\n');
    for (auto it = sections.cbegin(); it != sections.cend(); ++it)
        text += QLatin1Char('[') + it.key() + QStringLiteral("]\n") + it.value() + QLatin1Char('\n');

    QSaveFile file(path());
    // As the settings library does it: in a folder that takes no new file, an
    // existing writable file is rewritten in place.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        why = file.errorString();
        return false;
    }
    return true;
}
