#include "setpoint_wire.h"

namespace setpoint_wire {

const value_range& cw_current()
{
    static const value_range r = wire::u16(10.0);
    return r;
}

const value_range& precision_current()
{
    static const value_range r = wire::s32(100.0);
    return r;
}

const value_range& dcdc_current()
{
    static const value_range r = wire::u16(100.0);
    return r;
}

const value_range& temperature()
{
    static const value_range r = wire::s16(10.0);
    return r;
}

const value_range& precision_temperature()
{
    static const value_range r = wire::s32(10000.0);
    return r;
}

const value_range& voltage()
{
    static const value_range r = wire::u16(10.0);
    return r;
}

const value_range& pulse_width()
{
    static const value_range r = wire::u16(10.0);
    return r;
}

const value_range& count()
{
    static const value_range r = wire::u16(1.0);
    return r;
}

} // namespace setpoint_wire
