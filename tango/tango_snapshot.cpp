#include "tango_snapshot.h"

#include <algorithm>

const std::array<tango_attribute_info, tango_attr_count>& tango_attribute_table()
{
    // Event thresholds: about one step of what the panel shows; finer
    // changes are noise to an archiver.
    static const std::array<tango_attribute_info, tango_attr_count> table{{
        {"current", tango_value_type::real, false, 0.1},
        {"temperature", tango_value_type::real, false, 0.1},
        {"power", tango_value_type::real, false, 0.1},
        {"voltage", tango_value_type::real, false, 0.1},
        {"input_voltage", tango_value_type::real, false, 0.1},
        {"output_voltage", tango_value_type::real, false, 0.1},
        {"frequency", tango_value_type::real, false, 0.5},
        {"pulse_width", tango_value_type::real, false, 0.5},
        {"mode", tango_value_type::text, false, 0},
        {"burst_n", tango_value_type::integer, false, 1},
        {"burst_m", tango_value_type::integer, false, 1},
        {"fault_flags", tango_value_type::integer, false, 1},
        {"warning_flags", tango_value_type::integer, false, 1},
        {"emission", tango_value_type::flag, false, 1},
        {"current_setpoint", tango_value_type::real, true, 0.01},
        {"temperature_setpoint", tango_value_type::real, true, 0.01},
        {"voltage_setpoint", tango_value_type::real, true, 0.01},
        {"frequency_setpoint", tango_value_type::real, true, 0.5},
        {"pulse_width_setpoint", tango_value_type::real, true, 0.5},
    }};
    return table;
}

std::vector<std::string> tango_config::device_names() const
{
    std::vector<std::string> names;
    const std::string prefix = "corvane/" + instance + "/";
    for (int i = 1; i <= 10; ++i)
        names.push_back(prefix + "ch" + std::to_string(i));
    names.push_back(prefix + "studio");
    return names;
}

std::string tango_config::instance_problem() const
{
    // The member of a device name; it is also an argument of tango_admin.
    const bool ok = !instance.empty() && std::all_of(instance.begin(), instance.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
    return ok ? std::string() : "the instance \"" + instance + "\" may hold only letters, digits, '_', '-' and '.'";
}
