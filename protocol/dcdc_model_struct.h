#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>

// State of a Power DCDC board.
struct dcdc_model_struct
{
    QStringList flag_texts;         // text of each bit of the flag word, by bit number
    std::atomic<int32_t> can_id{0}; // read by the worker thread while the GUI may write it
    bool output_on = false;
    float current = 0.0f;
    float current_max = 14.0f;
    float current_min = 0.0f;
    float current_target = 0.0f;
    float current_set = 0.0f;
    float temperature = 0.0f;
    float temp_max = 70.0f;
    float temp_min = 0.0f;
    float output_voltage = 0.0f;
    float input_voltage = 0.0f;
    uint16_t warning_flags = 0;
    uint16_t fault_flags = 0;

    dcdc_model_struct();

    // One line (text + "\n") per set bit that has a text, in bit order.
    QString dcdc_flag_text(uint16_t flags) const;

    void get_output_on(char* buf, uint32_t* len) const;
    void set_output_on(int16_t v, char* buf, uint32_t* len) const;
    void get_current(char* buf, uint32_t* len) const;
    void set_current(float v, char* buf, uint32_t* len) const;
    void get_temperature(char* buf, uint32_t* len) const;
    void get_input_voltage(char* buf, uint32_t* len) const;
    void get_output_voltage(char* buf, uint32_t* len) const;
    void get_fault_flags(char* buf, uint32_t* len) const;
    void clear_errors(char* buf, uint32_t* len) const;
};
