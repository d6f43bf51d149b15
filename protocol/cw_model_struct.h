#pragma once

#include <atomic>
#include <cstdint>

// State of a CW or Precision CW board. Encoders build one 22-byte frame line
// into buf (at least 22 bytes) and set *len to 22; they read only can_id.
struct cw_model_struct
{
    std::atomic<int32_t> can_id{0}; // read by the worker thread while the GUI may write it
    float current_max = 150.0f;
    float current_min = 0.0f;
    float current = 0.0f;
    float current_target = 0.0f;
    float current_set = 0.0f;
    int32_t temp_limits_reported = 0;
    float temp_max = 35.0f;
    float temp_min = 15.0f;
    float temperature = 0.0f;
    float temp_target = 0.0f;
    float temp_set = 0.0f;
    bool laser_on = false;
    bool tec_on = false;
    float power = 0.0f;
    int32_t thermistor_r25 = 0;
    int32_t thermistor_beta = 0;
    float monitor_responsivity = 0.0f;
    float max_tec_current = 0.0f;

    void get_device_type(char* buf, uint32_t* len) const;
    void get_can_id(char* buf, uint32_t* len) const;
    void set_can_id(int8_t v, char* buf, uint32_t* len) const;
    void get_laser_on(char* buf, uint32_t* len) const;
    void set_laser_on(int8_t v, char* buf, uint32_t* len) const;
    void get_current(char* buf, uint32_t* len) const;
    void set_current(float v, char* buf, uint32_t* len) const;
    void set_current_precision(float v, char* buf, uint32_t* len) const;
    void get_temperature(char* buf, uint32_t* len) const;
    void set_temperature(float v, char* buf, uint32_t* len) const;
    void set_temperature_precision(float v, char* buf, uint32_t* len) const;
    void get_power(char* buf, uint32_t* len) const;
    void get_tec_on(char* buf, uint32_t* len) const;
    void set_tec_on(int8_t v, char* buf, uint32_t* len) const;
    void get_thermistor_beta(char* buf, uint32_t* len) const;
    void set_thermistor_beta(float v, char* buf, uint32_t* len) const;
    void get_thermistor_r25(char* buf, uint32_t* len) const;
    void set_thermistor_r25(float v, char* buf, uint32_t* len) const;
    void get_monitor_responsivity(char* buf, uint32_t* len) const;
    void set_monitor_responsivity(float v, char* buf, uint32_t* len) const;
    void get_current_max(char* buf, uint32_t* len) const;
    void set_current_max(float v, char* buf, uint32_t* len) const;
    void get_current_min(char* buf, uint32_t* len) const;
    void set_current_min(float v, char* buf, uint32_t* len) const;
    void get_temp_max(char* buf, uint32_t* len) const;
    void set_temp_max(float v, char* buf, uint32_t* len) const;
    void get_temp_min(char* buf, uint32_t* len) const;
    void set_temp_min(float v, char* buf, uint32_t* len) const;
    void get_max_tec_current(char* buf, uint32_t* len) const;
    void set_max_tec_current(float v, char* buf, uint32_t* len) const;
};
