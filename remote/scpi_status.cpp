#include "scpi_status.h"

void scpi_status::error(int code, const QString& detail)
{
    events |= event_of(code);
    if (!errors.push(code, detail))
        events |= event_of(-350);
}

int scpi_status::take_events()
{
    const int e = events;
    events = 0;
    return e;
}

int scpi_status::status_byte() const
{
    int stb = 0;
    if (errors.size() > 0)
        stb |= error_available;
    if (output_waiting)
        stb |= message_available;
    if (events & enable_events)
        stb |= event_summary;
    if (stb & enable_service & ~service_request)
        stb |= service_request;
    return stb;
}

void scpi_status::clear()
{
    errors.clear();
    events = 0;
}

std::uint8_t scpi_status::event_of(int code)
{
    if (code <= -100 && code > -200)
        return command_error;
    if (code <= -200 && code > -300)
        return execution_error;
    if (code <= -400 && code > -500)
        return query_error;
    return code != 0 ? device_error : 0;
}
