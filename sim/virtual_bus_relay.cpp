#include "virtual_bus_relay.h"

#include <QTcpSocket>
#include <QUrl>

namespace {

// The plugin's own port when an interface names no server.
constexpr quint16 default_port = 35468;
// A line longer than any frame line: the client is not speaking the protocol.
constexpr int longest_line = 256;

bool all_of(const QByteArray& s, bool (*ok)(char))
{
    for (char c : s) {
        if (!ok(c))
            return false;
    }
    return true;
}

} // namespace

virtual_bus_relay::virtual_bus_relay(QObject* parent)
    : QObject(parent)
{
    server.setParent(this);
    connect(&server, &QTcpServer::newConnection, this, &virtual_bus_relay::on_connection);
}

bool virtual_bus_relay::listen(quint16 port)
{
    return server.listen(QHostAddress::LocalHost, port);
}

quint16 virtual_bus_relay::port_of(const QString& interface_name)
{
    if (!interface_name.startsWith(QLatin1String("tcp://")))
        return default_port;
    const QUrl url(interface_name);
    if (url.host() != QLatin1String("127.0.0.1") && url.host() != QLatin1String("localhost"))
        return 0;
    return quint16(url.port(default_port));
}

bool virtual_bus_relay::valid_frame(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split('#');
    if (parts.size() != 3)
        return false;
    const QByteArray& id = parts[0];
    const QByteArray& flags = parts[1];
    const QByteArray& data = parts[2];
    bool id_ok = false;
    const qulonglong id_value = id.toULongLong(&id_ok, 10);
    return !id.isEmpty() && id.size() <= 10 && all_of(id, [](char c) { return c >= '0' && c <= '9'; }) && id_ok
        && id_value <= 0x1FFFFFFFu && all_of(flags, [](char c) { return c == 'X' || c == 'R' || c == 'F' || c == 'B' || c == 'E'; })
        && data.size() % 2 == 0 && data.size() <= 128
        && all_of(data, [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); });
}

void virtual_bus_relay::on_connection()
{
    while (QTcpSocket* client = server.nextPendingConnection()) {
        interface_of.insert(client, QString());
        connect(client, &QTcpSocket::readyRead, this, [this, client] { on_readable(client); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            interface_of.remove(client);
            client->deleteLater();
        });
    }
}

void virtual_bus_relay::on_readable(QTcpSocket* client)
{
    while (client->canReadLine())
        handle_line(client, client->readLine().trimmed());
    if (client->bytesAvailable() > longest_line) {
        // No line end in sight: whatever it is, it is not a frame.
        client->readAll();
        emit sig_malformed(++malformed);
    }
}

void virtual_bus_relay::handle_line(QTcpSocket* client, const QByteArray& line)
{
    if (line.startsWith("connect:")) {
        interface_of[client] = QString::fromLatin1(line.mid(8));
        return;
    }
    if (line.startsWith("disconnect:")) {
        interface_of[client].clear();
        return;
    }
    const int colon = line.indexOf(':');
    const QString iface = QString::fromLatin1(line.left(colon));
    const QByteArray frame = line.mid(colon + 1);
    if (colon <= 0 || !valid_frame(frame)) {
        emit sig_malformed(++malformed);
        return;
    }
    // Every other client on that interface gets it; nobody hears itself.
    for (auto it = interface_of.cbegin(); it != interface_of.cend(); ++it) {
        if (it.key() != client && it.value() == iface)
            it.key()->write(frame + '\n');
    }
}
