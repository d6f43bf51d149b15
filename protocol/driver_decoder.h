#pragma once

#include "driver_state.h"
#include "setpoint_sync.h"
#include "serial_message_struct.h"

// Stores one received reply into the channel's driver state and set-point
// adoption slots. Unknown frames are ignored; it never sends anything.
void decode_driver_message(driver_state& state, setpoint_sync_slots& sync,
                           const serial_message_struct& sm);
