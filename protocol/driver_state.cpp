#include "driver_state.h"

void driver_state::set_can_id(int32_t id)
{
    cw_model.can_id = id;
    ps_model.can_id = id;
    ns_model.can_id = id;
    dcdc_model.can_id = id;
}
