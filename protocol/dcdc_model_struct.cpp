#include "dcdc_model_struct.h"

#include "frame_encoding.h"

namespace {

using L = value_layout;
using R = rounding;

// Power DCDC commands: code, value layout, factor, rounding.
namespace dcdc_cmd {
constexpr command_def get_output_on = request(0x90);
constexpr command_def set_output_on{0x10, L::bits16, 1.0f, R::trunc};
constexpr command_def get_current = request(0x91);
constexpr command_def set_current{0x11, L::bits16, 100.0f, R::round};
constexpr command_def get_temperature = request(0x92);
constexpr command_def get_input_voltage = request(0x94);
constexpr command_def get_output_voltage = request(0xA6);
constexpr command_def clear_errors = request(0x29);
constexpr command_def get_fault_flags = request(0xB0);
} // namespace dcdc_cmd

} // namespace

dcdc_model_struct::dcdc_model_struct()
    : flag_texts{
          QStringLiteral("flag_NO_Load"),                                  // bit 0, fault
          QStringLiteral("flag_ALARM_INTERLOCK"),                          // bit 1
          QStringLiteral("flag_Overtemp"),                                 // bit 2
          QStringLiteral("flag_OverCurrent"),                              // bit 3
          QStringLiteral("flag_UnderVoltage_IN"),                          // bit 4
          QStringLiteral("flag_OverVoltage_IN"),                           // bit 5
          QStringLiteral("flag_UnderVoltage_OUT"),                         // bit 6
          QStringLiteral("flag_OverVoltage_OUT"),                          // bit 7
          QStringLiteral("Output voltage is higher than 80% of input voltage, \n"
                         "SOLUTION: increase the input voltage"),          // bit 8, warning
          QStringLiteral("Output power is close to MAX"),                  // bit 9, warning
      }
{
}

QString dcdc_model_struct::dcdc_flag_text(uint16_t flags) const
{
    QString text;
    for (int bit = 0; bit < 16; ++bit) {
        if ((flags >> bit) & 1u && bit < flag_texts.size())
            text += flag_texts.at(bit) + QLatin1Char('\n');
    }
    return text;
}

void dcdc_model_struct::get_output_on(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_output_on, buf, len);
}

void dcdc_model_struct::set_output_on(int16_t v, char* buf, uint32_t* len) const
{
    encode_value(can_id, dcdc_cmd::set_output_on, v, buf, len);
}

void dcdc_model_struct::get_current(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_current, buf, len);
}

void dcdc_model_struct::set_current(float v, char* buf, uint32_t* len) const
{
    encode_scaled(can_id, dcdc_cmd::set_current, v, buf, len);
}

void dcdc_model_struct::get_temperature(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_temperature, buf, len);
}

void dcdc_model_struct::get_input_voltage(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_input_voltage, buf, len);
}

void dcdc_model_struct::get_output_voltage(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_output_voltage, buf, len);
}

void dcdc_model_struct::get_fault_flags(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::get_fault_flags, buf, len);
}

void dcdc_model_struct::clear_errors(char* buf, uint32_t* len) const
{
    encode_request(can_id, dcdc_cmd::clear_errors, buf, len);
}
