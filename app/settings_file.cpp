#include "settings_file.h"

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

} // namespace

settings_file::settings_file(const QString& path)
    : store(path, QSettings::IniFormat)
{
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
    s.auto_connection = store.value(QStringLiteral("serial/connection_mode"), false).toBool();
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].enabled = store.value(enabled_key(i), false).toBool();
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].name = store.value(name_key(i)).toString();
    for (int i = 0; i < stored_settings::channel_count; ++i)
        s.rows[i].addr = valid_can_id(store.value(addr_key(i)).toString());
    return true;
}

bool settings_file::mini_usb() const
{
    return store.value(QStringLiteral("device_conf/mini_usb"), false).toBool();
}

void settings_file::save(const stored_settings& s)
{
    store.setValue(QStringLiteral("serial/portname"), s.port_name);
    store.setValue(QStringLiteral("serial/portspeed"), s.port_speed);
    store.setValue(QStringLiteral("serial/connection_mode"), s.auto_connection);
    for (int i = 0; i < stored_settings::channel_count; ++i)
        store.setValue(enabled_key(i), s.rows[i].enabled);
    for (int i = 0; i < stored_settings::channel_count; ++i)
        store.setValue(name_key(i), s.rows[i].name);
    for (int i = 0; i < stored_settings::channel_count; ++i)
        store.setValue(addr_key(i), s.rows[i].addr);
    store.setValue(QStringLiteral("device_conf/mini_usb"), s.mini_usb);
    store.setValue(QStringLiteral("settings/available"), 1);
    store.sync();
}
