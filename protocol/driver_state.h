#pragma once

#include "cw_model_struct.h"
#include "dcdc_model_struct.h"
#include "ns_model_struct.h"
#include "ps_model_struct.h"

#include <atomic>
#include <cstdint>

// Everything one channel knows about its board. The channel worker holds it;
// the reply decoder writes it in the GUI thread.
struct driver_state
{
    std::atomic<int32_t> device_type{0}; // read by the worker thread
    bool type_changed = false;           // GUI thread only
    std::atomic<bool> alive{false};
    int32_t reported_can_id = 0;         // GUI thread only
    cw_model_struct cw_model;
    ps_model_struct ps_model;
    ns_model_struct ns_model;
    dcdc_model_struct dcdc_model;

    // Writes the CAN ID into all four records.
    void set_can_id(int32_t id);
};
