#pragma once

#include "stored_settings.h"

#include <QSettings>
#include <QString>

// settings.ini in INI format. Key names are irregular on purpose (older files
// must stay readable): channel 1's keys carry no number, the others append it
// to the name and address keys but put it inside the enabled key
// (edit_name_2, addr_2, channel_2_enabled).
class settings_file
{
public:
    explicit settings_file(const QString& path = QStringLiteral("settings.ini"));

    // Reads the serial keys and the rows into `s` when the file carries the
    // marker settings/available = 1; otherwise leaves `s` alone and returns
    // false. A bit rate that is missing, empty or not a positive number reads
    // as 115200, since a hidden field could never repair it. A CAN ID that is
    // not an integer 0..255 reads as a missing one (empty, applied as 0), so
    // no channel addresses frames to an ID outside the bus's range.
    bool load(stored_settings& s) const;
    // device_conf/mini_usb, read with or without the marker.
    bool mini_usb() const;
    // Writes every key in a fixed order, then the marker, and flushes.
    void save(const stored_settings& s);

    static QString enabled_key(int index);
    static QString name_key(int index);
    static QString addr_key(int index);

private:
    mutable QSettings store;
};
