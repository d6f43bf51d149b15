#pragma once

#include "tango_snapshot.h"

#include <functional>
#include <memory>
#include <string>

// The program's channels as TANGO devices. The TANGO library runs in threads
// of its own: it reads only the last published snapshot and hands every
// write and command to `handler`, which must answer (from whatever thread)
// within its own time limit. The only file that includes TANGO's headers is
// tango_server.cpp. One server per process, started at most once: TANGO
// cannot be initialised twice.
class tango_server
{
public:
    using handler = std::function<tango_reply(const tango_request&)>;
    // ok, and why not; called once from a server thread when start() ends.
    using started_fn = std::function<void(bool ok, const std::string& why)>;
    // Called from a server thread when TANGO stopped by itself (a client's Kill).
    using stopped_fn = std::function<void()>;

    tango_server(handler h, started_fn started, stopped_fn stopped);
    ~tango_server(); // stops the server
    tango_server(const tango_server&) = delete;
    tango_server& operator=(const tango_server&) = delete;

    // Starts the server threads and returns at once; `started` reports.
    // False (with why) when it cannot even try: already started once.
    bool start(const tango_config& config, std::string& why);
    // A new snapshot: served from now on, events pushed for what changed.
    void publish(const tango_snapshot& s);
    // Stops TANGO and joins its threads; `wait` is called repeatedly
    // meanwhile (the caller answers requests in flight from it).
    void stop(const std::function<void()>& wait);
    bool running() const;
    // False where the program was built without TANGO.
    static bool available();

    struct impl;

private:
    std::unique_ptr<impl> d;
};
