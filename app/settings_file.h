#pragma once

#include "stored_settings.h"

#include <QSettings>
#include <QString>

// settings.ini in INI format, UTF-8. Key names are irregular on purpose (older
// files must stay readable): channel 1's keys carry no number, the others
// append it to the name and address keys but put it inside the enabled key
// (edit_name_2, addr_2, channel_2_enabled).
class settings_file
{
public:
    explicit settings_file(const QString& path = QStringLiteral("settings.ini"));

    // Reads the serial keys and the rows into `s` when the file carries the
    // marker settings/available = 1; otherwise leaves `s` alone and returns
    // false. A bit rate that is missing, empty or not a positive number reads
    // as 115200, since a hidden field could never repair it; so does the mini
    // USB rate outside mini USB mode (left by a connection to a board's own
    // cable, it would open the adapter at the wrong rate). A CAN ID that is
    // not an integer 0..255 reads as a missing one (empty, applied as 0), so
    // no channel addresses frames to an ID outside the bus's range. A name is
    // the text written, commas included.
    bool load(stored_settings& s) const;
    // device_conf/mini_usb, read with or without the marker.
    bool mini_usb() const;
    // Writes every key, then the marker, and replaces the file in one step.
    // False with the reason in `why` when the file could not be written.
    bool save(const stored_settings& s, QString& why);

    // The file's full path, for messages.
    QString path() const;

    static QString enabled_key(int index);
    static QString name_key(int index);
    static QString addr_key(int index);

private:
    // A text value as written: the settings library splits unquoted commas
    // into a list, which would lose a hand-written name like "a, b".
    QString text_value(const QString& key) const;

    mutable QSettings store;
};
