#pragma once

#include "pulse_model_struct.h"

// State of an NS or SOA NS board.
struct ns_model_struct : pulse_model_struct
{
    float max_tec_current = 0.0f;
    float pulse_width = 1.0f;
    float pulse_width_max = 1000.0f;
    float pulse_width_min = 1.0f;
    float pulse_width_set = 0.0f;
    double max_duty_cycle = 0.02;
    int32_t thermistor_r25 = 0;
    int32_t thermistor_beta = 0;
    float monitor_responsivity = 0.0f;

    // NS rounds the temperature set-point.
    void set_temperature(float v, char* buf, uint32_t* len) const;
    void get_pulse_width(char* buf, uint32_t* len) const;
    void set_pulse_width(float v, char* buf, uint32_t* len) const;
};
