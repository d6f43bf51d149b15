#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QComboBox;

// Fills the port selector: the ports the system reports, in its order, shown as
// "<description>" <system name>; then the CAN interfaces each Qt SerialBus
// plugin reports, shown as "<plugin>" <interface> ("SocketCAN" can0) with
// PLUGIN:INTERFACE as their name; then the extra ports given on the command
// line that are not listed yet: PLUGIN:INTERFACE as a CAN interface, anything
// else (pseudo-terminals, links) as "Virtual port" <name>. Item data is the
// name that opens the port.
class port_list
{
public:
    struct entry
    {
        QString text;
        QString port_name;
    };

    explicit port_list(QStringList virtual_ports = {});

    QList<entry> entries() const;
    // Rebuilds the combo box and makes the entry whose data equals
    // saved_port_name current (exact match), or none.
    void fill(QComboBox* combo, const QString& saved_port_name) const;

    const QStringList& virtual_ports() const { return extra; }

    // Whether the port may be there, without asking for the list of all
    // ports (which takes milliseconds): a serial port's device node, a
    // SocketCAN interface in the kernel's list. Interfaces of other plugins
    // cannot be looked at so cheaply; they count as present.
    static bool may_be_present(const QString& port_name);

    // For auto connection: records whether port_name is there now; true
    // when it has just appeared (or is looked at for the first time).
    bool came_back(const QString& port_name, bool present);

private:
    QStringList extra;
    // CAN plugins that could not list their interfaces (driver library missing).
    mutable QStringList unlisted_plugins;
    QString watched_port;
    bool watched_present = false;
};
