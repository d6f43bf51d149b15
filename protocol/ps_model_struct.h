#pragma once

#include "pulse_model_struct.h"

// State of a PS board.
struct ps_model_struct : pulse_model_struct
{
    int32_t thermistor_r25 = 0;
    int32_t thermistor_beta = 0;
    float monitor_responsivity = 0.0f;
    float max_tec_current = 0.0f;

    // PS truncates the temperature set-point.
    void set_temperature(float v, char* buf, uint32_t* len) const;
};
