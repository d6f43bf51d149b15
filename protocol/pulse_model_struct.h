#pragma once

#include <QString>
#include <atomic>
#include <cstdint>

// The fields and encoders that PS and NS boards share, in their order.
// ps_model_struct and ns_model_struct derive from it.
struct pulse_model_struct
{
    std::atomic<int32_t> can_id{0}; // read by the worker thread while the GUI may write it
    int32_t frequency_list[100];    // kHz, 43 rates then -1, the rest 0
    QString mode_names[6];
    int32_t mode = 0;
    int32_t mode_set = 0;
    int32_t burst_enabled = 0;
    float voltage = 0.0f;
    float voltage_min = 0.0f;
    float voltage_max = 1000000.0f;
    float voltage_target = 0.0f;
    float voltage_set = 0.0f;
    float temperature = 0.0f;
    float temp_max = 35.0f;
    float temp_min = 15.0f;
    float temp_target = 0.0f;
    float temp_set = 0.0f;
    bool laser_on = false;
    bool tec_on = false;
    bool voltage_on = false;
    int32_t frequency = 1;
    int32_t frequency_set = 1;
    int32_t pulse_gated = 0;
    int32_t pulse_gated_set = 0;
    int32_t pulse_cutted = 0;
    int32_t pulse_cutted_set = 0;

    pulse_model_struct();

    void get_voltage(char* buf, uint32_t* len) const;
    void set_voltage(float v, char* buf, uint32_t* len) const;
    void get_voltage_on(char* buf, uint32_t* len) const;
    void set_voltage_on(int8_t v, char* buf, uint32_t* len) const;
    void get_temperature(char* buf, uint32_t* len) const;
    void get_temp_max(char* buf, uint32_t* len) const;
    void set_temp_max(float v, char* buf, uint32_t* len) const;
    void get_temp_min(char* buf, uint32_t* len) const;
    void set_temp_min(float v, char* buf, uint32_t* len) const;
    void get_tec_on(char* buf, uint32_t* len) const;
    void set_tec_on(int8_t v, char* buf, uint32_t* len) const;
    void get_pulsed_laser_on(char* buf, uint32_t* len) const;
    void set_pulsed_laser_on(int8_t v, char* buf, uint32_t* len) const;
    void get_frequency(char* buf, uint32_t* len) const;
    void set_frequency(float v, char* buf, uint32_t* len) const;
    void get_pulse_gated(char* buf, uint32_t* len) const;
    void set_pulse_gated(int16_t v, char* buf, uint32_t* len) const;
    void get_pulse_cutted(char* buf, uint32_t* len) const;
    void set_pulse_cutted(int16_t v, char* buf, uint32_t* len) const;
    void get_mode(char* buf, uint32_t* len) const;
    void set_mode(int8_t v, char* buf, uint32_t* len) const;
    void get_thermistor_beta(char* buf, uint32_t* len) const;
    void set_thermistor_beta(float v, char* buf, uint32_t* len) const;
    void get_thermistor_r25(char* buf, uint32_t* len) const;
    void set_thermistor_r25(float v, char* buf, uint32_t* len) const;
    void get_monitor_responsivity(char* buf, uint32_t* len) const;
    void set_monitor_responsivity(float v, char* buf, uint32_t* len) const;
    void get_voltage_max(char* buf, uint32_t* len) const;
    void set_voltage_max(float v, char* buf, uint32_t* len) const;
    void get_voltage_min(char* buf, uint32_t* len) const;
    void set_voltage_min(float v, char* buf, uint32_t* len) const;
    void get_max_tec_current(char* buf, uint32_t* len) const;
    void set_max_tec_current(float v, char* buf, uint32_t* len) const;
};
