#include "pulse_model_struct.h"

#include "frame_encoding.h"

#include <algorithm>
#include <iterator>

namespace {

using L = value_layout;
using R = rounding;

// Commands that PS and NS boards share: code, value layout, factor, rounding.
// set_temperature differs between them and lives with each record.
namespace pulse_cmd {
constexpr command_def get_temperature = request(0x92);
constexpr command_def get_thermistor_beta = request(0x95);
constexpr command_def set_thermistor_beta{0x15, L::bits16, 1.0f, R::trunc};
constexpr command_def get_thermistor_r25 = request(0x96);
constexpr command_def set_thermistor_r25{0x16, L::bits16, 1.0f, R::trunc};
constexpr command_def get_monitor_responsivity = request(0x97);
constexpr command_def set_monitor_responsivity{0x17, L::bits16, 100.0f, R::trunc};
constexpr command_def get_voltage = request(0x98);
constexpr command_def set_voltage{0x18, L::bits16, 10.0f, R::round};
constexpr command_def get_frequency = request(0x99);
constexpr command_def set_frequency{0x19, L::bits16, 1.0f, R::trunc};
constexpr command_def get_voltage_on = request(0xA0);
constexpr command_def set_voltage_on{0x20, L::byte, 1.0f, R::trunc};
constexpr command_def get_tec_on = request(0xA1);
constexpr command_def set_tec_on{0x21, L::byte, 1.0f, R::trunc};
constexpr command_def get_pulsed_laser_on = request(0xA2);
constexpr command_def set_pulsed_laser_on{0x22, L::byte, 1.0f, R::trunc};
constexpr command_def get_mode = request(0xA4);
constexpr command_def set_mode{0x24, L::byte, 1.0f, R::trunc};
constexpr command_def get_voltage_max = request(0xA5);
constexpr command_def set_voltage_max{0x25, L::bits16, 10.0f, R::round};
constexpr command_def get_voltage_min = request(0xA6);
constexpr command_def set_voltage_min{0x26, L::bits16, 10.0f, R::round};
constexpr command_def get_max_tec_current = request(0xB3);
constexpr command_def set_max_tec_current{0x33, L::bits16, 10.0f, R::round};
constexpr command_def get_pulse_gated = request(0xB4);
constexpr command_def set_pulse_gated{0x34, L::bits16, 1.0f, R::trunc};
constexpr command_def get_pulse_cutted = request(0xB5);
constexpr command_def set_pulse_cutted{0x35, L::bits16, 1.0f, R::trunc};
constexpr command_def get_temp_min = request(0xB6);
constexpr command_def set_temp_min{0x36, L::bits16, 10.0f, R::round};
constexpr command_def get_temp_max = request(0xB7);
constexpr command_def set_temp_max{0x37, L::bits16, 10.0f, R::round};
} // namespace pulse_cmd

// Repetition rates offered in the rate selector, kHz.
constexpr int32_t offered_rates[] = {
    1,    2,    3,    4,    5,    6,    7,    8,    9,    10,
    20,   30,   40,   50,   60,   70,   80,   90,   100,
    200,  300,  400,  500,  600,  700,  800,  900,  1000,
    2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000, 10000, 11000,
    12500, 16000, 20000, 25000, 50000,
};
static_assert(std::size(offered_rates) == 43, "the rate selector offers 43 rates");

} // namespace

pulse_model_struct::pulse_model_struct()
    : mode_names{QStringLiteral("Int: Normal"), QStringLiteral("Int: Burst"),
                 QStringLiteral("Ext: Normal"), QStringLiteral("Ext: Burst"),
                 QStringLiteral("Pulse on Demand"), QStringLiteral("nullptr")}
{
    std::fill(std::begin(frequency_list), std::end(frequency_list), 0);
    std::copy(std::begin(offered_rates), std::end(offered_rates), frequency_list);
    frequency_list[std::size(offered_rates)] = -1;
}

void pulse_model_struct::get_voltage(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_voltage, buf, len);
}

void pulse_model_struct::set_voltage(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_voltage, v, buf, len);
}

void pulse_model_struct::get_voltage_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_voltage_on, buf, len);
}

void pulse_model_struct::set_voltage_on(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_voltage_on, v, buf, len);
}

void pulse_model_struct::get_temperature(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_temperature, buf, len);
}

void pulse_model_struct::get_temp_max(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_temp_max, buf, len);
}

void pulse_model_struct::set_temp_max(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_temp_max, v, buf, len);
}

void pulse_model_struct::get_temp_min(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_temp_min, buf, len);
}

void pulse_model_struct::set_temp_min(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_temp_min, v, buf, len);
}

void pulse_model_struct::get_tec_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_tec_on, buf, len);
}

void pulse_model_struct::set_tec_on(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_tec_on, v, buf, len);
}

void pulse_model_struct::get_pulsed_laser_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_pulsed_laser_on, buf, len);
}

void pulse_model_struct::set_pulsed_laser_on(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_pulsed_laser_on, v, buf, len);
}

void pulse_model_struct::get_frequency(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_frequency, buf, len);
}

void pulse_model_struct::set_frequency(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_frequency, v, buf, len);
}

void pulse_model_struct::get_pulse_gated(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_pulse_gated, buf, len);
}

void pulse_model_struct::set_pulse_gated(int16_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_pulse_gated, v, buf, len);
}

void pulse_model_struct::get_pulse_cutted(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_pulse_cutted, buf, len);
}

void pulse_model_struct::set_pulse_cutted(int16_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_pulse_cutted, v, buf, len);
}

void pulse_model_struct::get_mode(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_mode, buf, len);
}

void pulse_model_struct::set_mode(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, pulse_cmd::set_mode, v, buf, len);
}

void pulse_model_struct::get_thermistor_beta(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_thermistor_beta, buf, len);
}

void pulse_model_struct::set_thermistor_beta(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_thermistor_beta, v, buf, len);
}

void pulse_model_struct::get_thermistor_r25(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_thermistor_r25, buf, len);
}

void pulse_model_struct::set_thermistor_r25(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_thermistor_r25, v, buf, len);
}

void pulse_model_struct::get_monitor_responsivity(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_monitor_responsivity, buf, len);
}

void pulse_model_struct::set_monitor_responsivity(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_monitor_responsivity, v, buf, len);
}

void pulse_model_struct::get_voltage_max(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_voltage_max, buf, len);
}

void pulse_model_struct::set_voltage_max(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_voltage_max, v, buf, len);
}

void pulse_model_struct::get_voltage_min(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_voltage_min, buf, len);
}

void pulse_model_struct::set_voltage_min(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_voltage_min, v, buf, len);
}

void pulse_model_struct::get_max_tec_current(char* buf, uint32_t* len) const
{
    encode_request(can_id, pulse_cmd::get_max_tec_current, buf, len);
}

void pulse_model_struct::set_max_tec_current(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, pulse_cmd::set_max_tec_current, v, buf, len);
}
