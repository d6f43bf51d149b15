#pragma once

#include <QList>
#include <QPair>
#include <QString>

// One board on the simulated bus.
struct sim_board_setup
{
    int type_code = 0;
    int can_id = 0;
    double output_voltage = 24.0; // Power DCDC only
    double input_voltage = 48.0;  // Power DCDC only
    int fault_flags = 0;          // Power DCDC only
    // Registers as a board remembers them from an earlier session: set code, raw value.
    QList<QPair<int, int32_t>> registers;
};

// Everything the simulated bus is started with.
struct sim_config
{
    QString link_path;
    bool direct_mode = false;   // one board on its mini-USB cable, no adapter
    int settle_ms = 2000;       // readings reach their set-points within this time
    bool timestamps = false;    // adapter appends a 4-digit timestamp to each frame line
    bool record_lines = true;   // keep every received line for inspection
    // 0: replies go out at once. Otherwise each reply leaves in a write of
    // its own this long after its request, as a USB adapter hands them on.
    int reply_delay_ms = 0;
    QList<sim_board_setup> boards;

    // Parses "TYPE:CANID[:key=value,...]" (keys out, in, faults for a Power
    // DCDC board; rHH=RAW for any board: register of set code 0xHH). Returns false with a message in error on bad board text.
    static bool parse_board(const QString& text, sim_board_setup& setup, QString& error);
    // $TMPDIR/corvane-sim/dev/ttyCAN0 (the path must contain "/dev/" for the
    // serial port library to take it as it is).
    static QString default_link_path();
};
