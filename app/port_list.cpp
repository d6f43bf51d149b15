#include "port_list.h"

#include "can_port_name.h"

#include <QCanBus>
#include <QComboBox>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>

namespace {

QString quoted(const QString& description, const QString& name)
{
    return QLatin1Char('"') + description + QStringLiteral("\" ") + name;
}

QString plugin_title(const QString& plugin)
{
    static const QPair<const char*, const char*> titles[] = {
        {"socketcan", "SocketCAN"}, {"peakcan", "PEAK"}, {"virtualcan", "Virtual CAN"},
        {"passthrucan", "PassThru CAN"}, {"tinycan", "Tiny-CAN"}};
    for (const auto& t : titles) {
        if (plugin == QLatin1String(t.first))
            return QLatin1String(t.second);
    }
    return plugin;
}

} // namespace

port_list::port_list(QStringList virtual_ports)
    : extra(std::move(virtual_ports))
{
}

QList<port_list::entry> port_list::entries() const
{
    QList<entry> list;
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports)
        list.append({quoted(info.description(), info.portName()), info.portName()});
    const QStringList plugins = QCanBus::instance()->plugins();
    for (const QString& plugin : plugins) {
        if (unlisted_plugins.contains(plugin))
            continue;
        QString error;
        const QList<QCanBusDeviceInfo> interfaces = QCanBus::instance()->availableDevices(plugin, &error);
        // A plugin whose driver library is missing says so at every call: ask it once.
        if (!error.isEmpty())
            unlisted_plugins.append(plugin);
        for (const QCanBusDeviceInfo& info : interfaces)
            list.append({quoted(plugin_title(plugin), info.name()), can_port_name{plugin, info.name()}.text()});
    }
    for (const QString& name : extra) {
        const bool listed = std::any_of(list.begin(), list.end(), [&name](const entry& e) { return e.port_name == name; });
        if (listed)
            continue;
        can_port_name can;
        if (can_port_name::parse(name, can))
            list.append({quoted(plugin_title(can.plugin), can.interface_name), name});
        else
            list.append({quoted(QStringLiteral("Virtual port"), name), name});
    }
    return list;
}

void port_list::fill(QComboBox* combo, const QString& saved_port_name) const
{
    const QList<entry> list = entries();
    combo->clear();
    for (const entry& e : list)
        combo->addItem(e.text, e.port_name);
    combo->setCurrentIndex(combo->findData(saved_port_name, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive));
}

bool port_list::may_be_present(const QString& port_name)
{
    if (port_name.isEmpty())
        return false;
    can_port_name can;
    if (can_port_name::parse(port_name, can)) {
        if (can.plugin == QLatin1String("socketcan"))
            return QFileInfo::exists(QStringLiteral("/sys/class/net/") + can.interface_name);
        return true;
    }
    // A system name (ttyUSB0) lives in /dev; a path (--port) is taken as it is.
    return QFileInfo::exists(port_name.contains(QLatin1Char('/')) ? port_name : QStringLiteral("/dev/") + port_name);
}

bool port_list::came_back(const QString& port_name, bool present)
{
    const bool back = present && (port_name != watched_port || !watched_present);
    watched_port = port_name;
    watched_present = present;
    return back;
}
