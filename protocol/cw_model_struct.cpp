#include "cw_model_struct.h"

#include "frame_encoding.h"

namespace {

using L = value_layout;
using R = rounding;

// CW and Precision CW commands: code, value layout, factor, rounding.
// The identification and TEC-limit commands are built with this record for
// every driver type, as all four records of a channel share the CAN ID.
namespace cw_cmd {
constexpr command_def get_device_type = request(0xD0);
constexpr command_def get_can_id = request(0xD1);
constexpr command_def set_can_id{0x51, L::byte, 1.0f, R::trunc};
constexpr command_def get_laser_on = request(0x90);
constexpr command_def set_laser_on{0x10, L::byte, 1.0f, R::trunc};
constexpr command_def get_current = request(0x91);
constexpr command_def set_current{0x11, L::bits16, 10.0f, R::round};
constexpr command_def set_current_precision{0x11, L::bits32, 100.0f, R::round};
constexpr command_def get_temperature = request(0x92);
constexpr command_def set_temperature{0x12, L::bits16, 10.0f, R::trunc};
constexpr command_def set_temperature_precision{0x12, L::bits32, 10000.0f, R::round};
constexpr command_def get_power = request(0x94);
constexpr command_def get_thermistor_beta = request(0x95);
constexpr command_def set_thermistor_beta{0x15, L::bits16, 1.0f, R::trunc};
constexpr command_def get_thermistor_r25 = request(0x96);
constexpr command_def set_thermistor_r25{0x16, L::bits16, 1.0f, R::trunc};
constexpr command_def get_monitor_responsivity = request(0x97);
constexpr command_def set_monitor_responsivity{0x17, L::bits16, 100.0f, R::trunc};
constexpr command_def get_tec_on = request(0xA1);
constexpr command_def set_tec_on{0x21, L::byte, 1.0f, R::trunc};
// The parameters window pre-scales the limits it hands over (current limits
// ×10 unless a CW board reported temperature limits; Precision CW
// temperature limits ×100), so one encoder serves both CW variants.
constexpr command_def get_current_max = request(0xA5);
constexpr command_def set_current_max{0x25, L::bits32, 10.0f, R::round};
constexpr command_def get_current_min = request(0xA6);
constexpr command_def set_current_min{0x26, L::bits32, 10.0f, R::round};
constexpr command_def get_max_tec_current = request(0xB3);
constexpr command_def set_max_tec_current{0x33, L::bits16, 10.0f, R::round};
constexpr command_def get_temp_min = request(0xB6);
constexpr command_def set_temp_min{0x36, L::bits16, 10.0f, R::round};
constexpr command_def get_temp_max = request(0xB7);
constexpr command_def set_temp_max{0x37, L::bits16, 10.0f, R::round};
} // namespace cw_cmd

} // namespace

void cw_model_struct::get_device_type(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_device_type, buf, len);
}

void cw_model_struct::get_can_id(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_can_id, buf, len);
}

void cw_model_struct::set_can_id(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, cw_cmd::set_can_id, v, buf, len);
}

void cw_model_struct::get_laser_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_laser_on, buf, len);
}

void cw_model_struct::set_laser_on(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, cw_cmd::set_laser_on, v, buf, len);
}

void cw_model_struct::get_current(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_current, buf, len);
}

void cw_model_struct::set_current(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_current, v, buf, len);
}

void cw_model_struct::set_current_precision(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_current_precision, v, buf, len);
}

void cw_model_struct::get_temperature(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_temperature, buf, len);
}

void cw_model_struct::set_temperature(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_temperature, v, buf, len);
}

void cw_model_struct::set_temperature_precision(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_temperature_precision, v, buf, len);
}

void cw_model_struct::get_power(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_power, buf, len);
}

void cw_model_struct::get_tec_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_tec_on, buf, len);
}

void cw_model_struct::set_tec_on(int8_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, cw_cmd::set_tec_on, v, buf, len);
}

void cw_model_struct::get_thermistor_beta(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_thermistor_beta, buf, len);
}

void cw_model_struct::set_thermistor_beta(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_thermistor_beta, v, buf, len);
}

void cw_model_struct::get_thermistor_r25(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_thermistor_r25, buf, len);
}

void cw_model_struct::set_thermistor_r25(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_thermistor_r25, v, buf, len);
}

void cw_model_struct::get_monitor_responsivity(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_monitor_responsivity, buf, len);
}

void cw_model_struct::set_monitor_responsivity(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_monitor_responsivity, v, buf, len);
}

void cw_model_struct::get_current_max(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_current_max, buf, len);
}

void cw_model_struct::set_current_max(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_current_max, v, buf, len);
}

void cw_model_struct::get_current_min(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_current_min, buf, len);
}

void cw_model_struct::set_current_min(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_current_min, v, buf, len);
}

void cw_model_struct::get_temp_max(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_temp_max, buf, len);
}

void cw_model_struct::set_temp_max(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_temp_max, v, buf, len);
}

void cw_model_struct::get_temp_min(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_temp_min, buf, len);
}

void cw_model_struct::set_temp_min(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_temp_min, v, buf, len);
}

void cw_model_struct::get_max_tec_current(char* buf, uint32_t* len) const
{
    encode_request(can_id, cw_cmd::get_max_tec_current, buf, len);
}

void cw_model_struct::set_max_tec_current(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, cw_cmd::set_max_tec_current, v, buf, len);
}
