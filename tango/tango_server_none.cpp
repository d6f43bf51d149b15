// The server where the program was built without TANGO (CORVANE_TANGO off):
// it says so instead of serving.
#include "tango_server.h"

struct tango_server::impl
{
};

tango_server::tango_server(handler, started_fn, stopped_fn) {}
tango_server::~tango_server() = default;

bool tango_server::available()
{
    return false;
}

bool tango_server::start(const tango_config&, std::string& why)
{
    why = "this program was built without TANGO (libtango-dev)";
    return false;
}

void tango_server::publish(const tango_snapshot&) {}
void tango_server::stop(const std::function<void()>&) {}
bool tango_server::running() const
{
    return false;
}
