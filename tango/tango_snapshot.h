#pragma once

#include <array>
#include <cmath>
#include <string>
#include <vector>

// What the TANGO devices serve, as plain values: the program's thread fills
// it, the server's threads only read a copy. No Qt and no TANGO types here,
// so both sides can include it.

// The channel attributes, in the order of tango_attribute_table().
enum class tango_attr {
    current,
    temperature,
    power,
    voltage,
    input_voltage,
    output_voltage,
    frequency,
    pulse_width,
    mode,
    burst_n,
    burst_m,
    fault_flags,
    warning_flags,
    emission,
    current_setpoint,
    temperature_setpoint,
    voltage_setpoint,
    frequency_setpoint,
    pulse_width_setpoint,
};
constexpr int tango_attr_count = 19;

enum class tango_value_type { real, integer, text, flag };

struct tango_attribute_info
{
    const char* name;
    tango_value_type type;
    bool writable;
    double change; // absolute change that makes a change or archive event
};
const std::array<tango_attribute_info, tango_attr_count>& tango_attribute_table();

// The device states a channel or the program can be in.
enum class tango_state { on, off, fault, alarm, unknown, disable };

struct tango_channel_snapshot
{
    static constexpr double none = NAN;
    tango_state state = tango_state::unknown;
    std::string status = "no board";
    bool fresh = false;                     // readings may be served
    std::array<double, tango_attr_count> value{}; // NaN: the board type lacks it
    std::string mode;                        // the mode attribute's text
    std::string type_name;                   // "this channel" when empty
    // Set-point ranges (NaN when unknown).
    std::array<double, tango_attr_count> min_value{};
    std::array<double, tango_attr_count> max_value{};

    tango_channel_snapshot()
    {
        value.fill(none);
        min_value.fill(none);
        max_value.fill(none);
    }
};

struct tango_studio_snapshot
{
    bool connected = false;
    bool recording = false;
    std::vector<std::string> alarms;
    std::vector<std::string> log; // the last lines of the event log, oldest first
};

struct tango_snapshot
{
    static constexpr int channels = 10;
    std::array<tango_channel_snapshot, channels> channel;
    tango_studio_snapshot studio;
};

// A client's write or command, handed to the program's thread.
struct tango_request
{
    int channel = 0;    // 1..10; 0: the program device
    std::string name;   // attribute or command name
    double value = 0.0; // written value
    std::string client; // the client's host (and process)
};

struct tango_reply
{
    bool ok = true;
    std::string reason; // why it was refused
    static tango_reply refused(std::string why) { return {false, std::move(why)}; }
};

// Where the server runs: database-less on a fixed port, or registered in
// the database that TANGO_HOST names.
struct tango_config
{
    std::string server = "CorvaneStudio"; // the server's executable name in TANGO
    std::string instance;                 // lower case; also the devices' middle part
    bool use_database = false;
    int port = 0;                         // 0: any (database mode only)
    std::string endpoint = "127.0.0.1";  // the address to bind

    // corvane/<instance>/ch1 .. ch10, then corvane/<instance>/studio.
    std::vector<std::string> device_names() const;
    // Empty when the instance can name TANGO devices and servers; else why not.
    std::string instance_problem() const;
};
