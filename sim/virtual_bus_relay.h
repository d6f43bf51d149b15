#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <atomic>

class QTcpSocket;

// Hosts Qt's virtual CAN bus (the "virtualcan" plugin's line protocol on a
// local TCP port) for the simulator, in place of the plugin's own server.
// The plugin's clients trust every line the bus relays to them and crash on
// a malformed one, so a single faulty client could end every process on the
// bus, this one included. Here each frame line is checked before it is
// passed on; one that is not a frame is dropped and counted.
class virtual_bus_relay : public QObject
{
    Q_OBJECT

public:
    explicit virtual_bus_relay(QObject* parent = nullptr);

    // False when the port is taken (another process hosts the bus already).
    bool listen(quint16 port);
    quint16 port() const { return server.serverPort(); }

    // Lines from clients that were neither a command nor a valid frame.
    std::atomic<quint64> malformed{0};

    // The port of a virtualcan interface name ("can0", "tcp://127.0.0.1:PORT/can0");
    // 0 for one on another host, which the simulator cannot host.
    static quint16 port_of(const QString& interface_name);
    // A frame as the plugin relays it: ID#FLAGS#HEX (decimal identifier,
    // flag letters, up to 64 data bytes in hex).
    static bool valid_frame(const QByteArray& text);

signals:
    void sig_malformed(quint64 total);

private:
    void on_connection();
    void on_readable(QTcpSocket* client);
    void handle_line(QTcpSocket* client, const QByteArray& line);

    QTcpServer server;
    QHash<QTcpSocket*, QString> interface_of; // the interface each client joined
};
