#pragma once

#include <QString>

// A CAN interface as the port list and --port name it: PLUGIN:INTERFACE, the
// Qt SerialBus plugin and the interface it opens (socketcan:can0,
// virtualcan:tcp://127.0.0.1:35470/can0). Serial port names never take this
// form: they are paths or plain device names.
struct can_port_name
{
    QString plugin;
    QString interface_name;

    // False for anything that is not PLUGIN:INTERFACE with a lower-case
    // plugin name (letters and digits, a letter first) and an interface.
    static bool parse(const QString& text, can_port_name& out);
    QString text() const { return plugin + QLatin1Char(':') + interface_name; }
};
