#pragma once

#include <QString>
#include <array>

// What settings.ini remembers: the serial side and the system configuration
// rows, in the form's own text representation (CAN IDs and bit rate as text).
struct stored_settings
{
    static constexpr int channel_count = 10;
    static constexpr const char* default_port_speed = "115200";
    // A board on its own mini-USB cable talks at this rate; an adapter never does.
    static constexpr const char* mini_usb_port_speed = "57600";
    // The usual port of SCPI instruments on raw TCP.
    static constexpr int default_remote_port = 5025;

    struct channel_row
    {
        bool enabled = false;
        QString name;
        QString addr = QStringLiteral("1");
    };

    QString port_name;
    QString port_speed = QLatin1String(default_port_speed);
    bool auto_connection = false;
    std::array<channel_row, channel_count> rows;
    bool mini_usb = false;
    // The SCPI server: off unless the operator turned it on.
    bool remote_enabled = false;
    QString remote_port = QString::number(default_remote_port);
    // The TANGO devices: off unless the operator turned them on. An empty
    // instance is the host name in lower case; an empty port needs a database.
    bool tango_enabled = false;
    QString tango_instance;
    QString tango_port;
    QString tango_endpoint = QStringLiteral("127.0.0.1");
    bool tango_readonly = false;
};
