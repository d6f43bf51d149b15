#include "port_list.h"

#include <QComboBox>
#include <QSerialPortInfo>

namespace {

QString quoted(const QString& description, const QString& name)
{
    return QLatin1Char('"') + description + QStringLiteral("\" ") + name;
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
    for (const QString& name : extra)
        list.append({quoted(QStringLiteral("Virtual port"), name), name});
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
