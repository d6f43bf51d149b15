#pragma once

#include <QString>
#include <cstdint>
#include <map>

// One simulated driver board: a register model of its family. Set commands
// (code with bit 7 clear) store their value with the family's layout; get
// requests (bit 7 set) are answered with a reply laid out as the control
// program reads it: byte 0 the code, byte 1 the board's CAN ID, bytes 4..7 the
// value big-endian. Readings move toward their set-points over time and, once
// there, wobble a little as a regulated output does (not when they settle at
// once: tests then read exact set-points).
class sim_board
{
public:
    // Driver type codes as the boards report them.
    static constexpr int type_ns = 6;
    static constexpr int type_ps = 7;
    static constexpr int type_cw = 8;
    static constexpr int type_precision_cw = 10;
    static constexpr int type_power_dcdc = 11;
    static constexpr int type_soa_ns = 13;

    // CAN ID that every board answers besides its own.
    static constexpr int broadcast_can_id = 250;

    sim_board(int type_code, int can_id);

    // "cw", "precision-cw", "ps", "ns", "soa-ns", "dcdc" (case-insensitive;
    // "pcw", "soans" and "power-dcdc" are accepted too); 0 for anything else.
    static int type_code_from_name(const QString& name);
    static QString type_name(int type_code);

    int type_code() const { return type; }
    int can_id() const { return id; }

    // Handles one frame that reached this board. Returns true and fills
    // reply when the frame is a get request of the family.
    bool handle(const uint8_t request[8], int64_t now_ms, uint8_t reply[8]);

    // Time within which readings settle on their set-points; 0 = at once.
    void set_settle_ms(int ms) { settle_ms = ms; }

    // Values that only the outside world sets on a Power DCDC board.
    void set_output_voltage(double volts) { output_voltage = volts; }
    void set_input_voltage(double volts) { input_voltage = volts; }
    void set_fault_flags(int flags) { fault_flags = flags & 0xFF; }
    int fault_flag_word() const { return fault_flags; }

    // Stores a raw register value as its set command would.
    void set_register(int set_code, int32_t raw) { regs[set_code] = raw; }
    // Readings at their set-points at once, as on a board that has been running.
    void settle();
    // Raw value of a register as last set (by its set code), 0 if unknown.
    int32_t register_value(int set_code) const;
    // Present physical readings (mA or A, degrees C, V).
    double current_reading() const { return current; }
    double temperature_reading() const { return temperature; }
    double voltage_reading() const { return voltage; }

private:
    enum class layout { none, byte, u16, s16, s32 };
    layout set_layout(int code) const;
    bool is_cw_family() const { return type == type_cw || type == type_precision_cw; }
    bool is_pulsed() const { return type == type_ps || type == type_ns || type == type_soa_ns; }
    bool reply_value(int get_code, int32_t& value) const;
    void advance(int64_t now_ms);
    double current_setpoint() const;
    // A slow deterministic wobble of about +-amplitude at the present time; 0
    // when readings settle at once.
    double wobble(double amplitude, double period_s, int salt) const;
    double temperature_setpoint() const;

    int type;
    int id;
    std::map<int, int32_t> regs;
    double current = 0.0;
    double temperature = 25.0;
    double voltage = 0.0;
    double output_voltage = 24.0;
    double input_voltage = 48.0;
    int fault_flags = 0;
    int settle_ms = 2000;
    int64_t last_ms = -1;
};
