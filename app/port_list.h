#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QComboBox;

// Fills the port selector: the ports the system reports, in its order, shown as
// "<description>" <system name>, then the extra ports given on the command line
// (pseudo-terminals, links, anything the system does not enumerate) shown as
// "Virtual port" <name>. Item data is the name that opens the port.
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

private:
    QStringList extra;
};
