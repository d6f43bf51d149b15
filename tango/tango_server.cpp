// The one translation unit that includes TANGO's headers (they bring
// `using namespace std` and a compile time of seconds): the device classes,
// their attributes and commands, the server thread and the event pusher.
#include "tango_server.h"

#include <tango.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class channel_device;
class studio_device;

// TANGO's class factory takes no argument: the running server is reached
// through this pointer (one server per process).
tango_server::impl* the_server = nullptr;

Tango::DevState to_tango(tango_state s)
{
    switch (s) {
    case tango_state::on: return Tango::ON;
    case tango_state::off: return Tango::OFF;
    case tango_state::fault: return Tango::FAULT;
    case tango_state::alarm: return Tango::ALARM;
    case tango_state::disable: return Tango::DISABLE;
    case tango_state::unknown: break;
    }
    return Tango::UNKNOWN;
}

// "giop:tcp:127.0.0.1:40312" -> "127.0.0.1", plus the client's process when it told it.
std::string client_of(Tango::DeviceImpl* dev)
{
    Tango::client_addr* c = dev->get_client_ident();
    if (!c)
        return "unknown host";
    std::string ip = c->client_ip;
    const std::string giop = "giop:tcp:";
    if (ip.compare(0, giop.size(), giop) == 0)
        ip.erase(0, giop.size());
    if (!ip.empty() && ip.front() == '[')
        ip = ip.substr(1, ip.find(']') == std::string::npos ? std::string::npos : ip.find(']') - 1);
    else if (ip.find(':') != std::string::npos)
        ip.erase(ip.rfind(':'));
    if (ip.empty())
        ip = "unknown host";
    if (c->client_ident && c->client_pid > 0)
        ip += " pid " + std::to_string(c->client_pid);
    return ip;
}

[[noreturn]] void refuse(const std::string& why, const char* where)
{
    Tango::Except::throw_exception(why.c_str(), why.c_str(), where);
}

} // namespace

struct tango_server::impl
{
    handler handle;
    started_fn started;
    stopped_fn stopped;
    tango_config config;

    mutable std::mutex snapshot_mutex; // the one lock between the program's thread and TANGO's
    tango_snapshot snapshot;

    std::thread server_thread;
    std::atomic<bool> ever_started{false};
    std::atomic<bool> serving{false};
    std::atomic<bool> init_done{false}; // started() was called
    std::atomic<bool> stopping{false};

    std::mutex devices_mutex; // the devices TANGO created (RestartServer replaces them)
    std::vector<channel_device*> channels;
    studio_device* studio = nullptr;

    std::thread pusher;
    std::mutex pusher_mutex;
    std::condition_variable pusher_wake;
    bool pusher_quit = false;
    bool pusher_due = false;

    tango_reply forward(const tango_request& r)
    {
        if (stopping.load())
            return tango_reply::refused("the server is stopping");
        return handle(r);
    }
    tango_channel_snapshot channel_snapshot(int index) const
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex);
        return snapshot.channel[size_t(index)];
    }
    tango_studio_snapshot studio_snapshot() const
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex);
        return snapshot.studio;
    }
    void run(std::vector<std::string> args);
    bool check_database(std::string& why);
    void push_loop();
    void push_events();
};

namespace {

class channel_device : public Tango::Device_5Impl
{
public:
    channel_device(Tango::DeviceClass* cl, const std::string& name, int index)
        : Tango::Device_5Impl(cl, name.c_str()), index(index)
    {
        channel_device::init_device();
    }
    ~channel_device() override
    {
        if (!the_server)
            return;
        std::lock_guard<std::mutex> lock(the_server->devices_mutex);
        auto& list = the_server->channels;
        list.erase(std::remove(list.begin(), list.end(), this), list.end());
    }
    void init_device() override
    {
        for (const auto& a : tango_attribute_table()) {
            set_change_event(a.name, true, false);
            set_archive_event(a.name, true, false);
        }
        set_change_event("State", true, false);
        set_archive_event("State", true, false);
    }
    Tango::DevState dev_state() override
    {
        const tango_channel_snapshot s = the_server->channel_snapshot(index);
        set_state(to_tango(s.state));
        return get_state();
    }
    Tango::ConstDevString dev_status() override
    {
        status_text = the_server->channel_snapshot(index).status;
        set_status(status_text);
        return status_text.c_str();
    }

    void read(Tango::Attribute& att, int a)
    {
        const tango_channel_snapshot s = the_server->channel_snapshot(index);
        const tango_attribute_info& info = tango_attribute_table()[size_t(a)];
        const double v = s.value[size_t(a)];
        if (std::isnan(v) && !(a == int(tango_attr::mode) && !s.mode.empty()))
            refuse("not available on " + (s.type_name.empty() ? std::string("this channel") : s.type_name),
                   "corvane channel read");
        if (!s.fresh) {
            // Never the last value as if it were live.
            att.set_quality(Tango::ATTR_INVALID);
            return;
        }
        switch (info.type) {
        case tango_value_type::real:
            real_value = v;
            att.set_value(&real_value);
            break;
        case tango_value_type::integer:
            integer_value = Tango::DevLong(v);
            att.set_value(&integer_value);
            break;
        case tango_value_type::flag:
            flag_value = v != 0;
            att.set_value(&flag_value);
            break;
        case tango_value_type::text:
            text_value = s.mode;
            text_pointer = const_cast<char*>(text_value.c_str());
            att.set_value(&text_pointer);
            break;
        }
    }
    void write(Tango::WAttribute& att, int a)
    {
        Tango::DevDouble v = 0;
        att.get_write_value(v);
        tango_request r;
        r.channel = index + 1;
        r.name = tango_attribute_table()[size_t(a)].name;
        r.value = v;
        r.client = client_of(this);
        const tango_reply reply = the_server->forward(r);
        if (!reply.ok)
            refuse(reply.reason, "corvane channel write");
    }
    void command(const char* name)
    {
        tango_request r;
        r.channel = index + 1;
        r.name = name;
        r.client = client_of(this);
        const tango_reply reply = the_server->forward(r);
        if (!reply.ok)
            refuse(reply.reason, "corvane channel command");
    }

    const int index;
    // What was pushed last, to push only changes.
    bool pushed = false;
    tango_channel_snapshot last;

private:
    std::string status_text;
    Tango::DevDouble real_value = 0;
    Tango::DevLong integer_value = 0;
    Tango::DevBoolean flag_value = false;
    std::string text_value;
    Tango::DevString text_pointer = nullptr;
};

class studio_device : public Tango::Device_5Impl
{
public:
    studio_device(Tango::DeviceClass* cl, const std::string& name) : Tango::Device_5Impl(cl, name.c_str())
    {
        studio_device::init_device();
    }
    ~studio_device() override
    {
        if (!the_server)
            return;
        std::lock_guard<std::mutex> lock(the_server->devices_mutex);
        if (the_server->studio == this)
            the_server->studio = nullptr;
    }
    void init_device() override
    {
        for (const char* a : {"connected", "alarms", "recording", "log"}) {
            set_change_event(a, true, false);
            set_archive_event(a, true, false);
        }
    }
    Tango::DevState dev_state() override
    {
        const tango_studio_snapshot s = the_server->studio_snapshot();
        set_state(!s.alarms.empty() ? Tango::ALARM : s.connected ? Tango::ON : Tango::OFF);
        return get_state();
    }
    Tango::ConstDevString dev_status() override
    {
        const tango_studio_snapshot s = the_server->studio_snapshot();
        status_text = s.connected ? "connected" : "not connected";
        for (const std::string& a : s.alarms)
            status_text += "\n" + a;
        set_status(status_text);
        return status_text.c_str();
    }
    void read(Tango::Attribute& att)
    {
        const tango_studio_snapshot s = the_server->studio_snapshot();
        const std::string& n = att.get_name();
        if (n == "connected") {
            flag_value = s.connected;
            att.set_value(&flag_value);
        } else if (n == "recording") {
            flag_value = s.recording;
            att.set_value(&flag_value);
        } else {
            lines = n == "alarms" ? s.alarms : s.log;
            pointers.clear();
            for (std::string& l : lines)
                pointers.push_back(const_cast<char*>(l.c_str()));
            att.set_value(pointers.data(), long(pointers.size()));
        }
    }
    void command(const char* name)
    {
        tango_request r;
        r.name = name;
        r.client = client_of(this);
        const tango_reply reply = the_server->forward(r);
        if (!reply.ok)
            refuse(reply.reason, "corvane studio command");
    }

    bool pushed = false;
    tango_studio_snapshot last;

private:
    std::string status_text;
    Tango::DevBoolean flag_value = false;
    std::vector<std::string> lines;
    std::vector<Tango::DevString> pointers;
};

class channel_attribute : public Tango::Attr
{
public:
    channel_attribute(int a, long type, Tango::AttrWriteType w)
        : Tango::Attr(tango_attribute_table()[size_t(a)].name, type, w), index(a)
    {
    }
    void read(Tango::DeviceImpl* dev, Tango::Attribute& att) override
    {
        static_cast<channel_device*>(dev)->read(att, index);
    }
    void write(Tango::DeviceImpl* dev, Tango::WAttribute& att) override
    {
        static_cast<channel_device*>(dev)->write(att, index);
    }

private:
    int index;
};

class studio_attribute : public Tango::Attr
{
public:
    studio_attribute(const char* name, long type) : Tango::Attr(name, type, Tango::READ) {}
    void read(Tango::DeviceImpl* dev, Tango::Attribute& att) override
    {
        static_cast<studio_device*>(dev)->read(att);
    }
};

class studio_lines : public Tango::SpectrumAttr
{
public:
    studio_lines(const char* name, long max) : Tango::SpectrumAttr(name, Tango::DEV_STRING, Tango::READ, max) {}
    void read(Tango::DeviceImpl* dev, Tango::Attribute& att) override
    {
        static_cast<studio_device*>(dev)->read(att);
    }
};

template <class Device>
class void_command : public Tango::Command
{
public:
    void_command(const char* name, const char* what)
        : Tango::Command(name, Tango::DEV_VOID, Tango::DEV_VOID, "", ""), name(name)
    {
        set_disp_level(Tango::OPERATOR);
        (void)what;
    }
    CORBA::Any* execute(Tango::DeviceImpl* dev, const CORBA::Any&) override
    {
        static_cast<Device*>(dev)->command(name);
        return new CORBA::Any();
    }

private:
    const char* name;
};

// The default unit and display format of each attribute; the pusher changes
// them when the board type shows another (Power DCDC's current is in A).
const char* default_unit(int a)
{
    static const char* const units[tango_attr_count] = {
        "mA (A on Power DCDC)", "degC", "mW", "V", "V", "V", "kHz", "ns", "", "", "", "", "", "",
        "mA (A on Power DCDC)", "degC", "V", "kHz", "ns"};
    return units[a];
}

// The channel number from the device name's last part ("ch3" -> 2).
int channel_index(const std::string& name)
{
    const auto slash = name.rfind('/');
    const std::string member = name.substr(slash == std::string::npos ? 0 : slash + 1);
    if (member.size() < 3 || (member[0] != 'c' && member[0] != 'C') || (member[1] != 'h' && member[1] != 'H'))
        return -1;
    const int n = std::atoi(member.c_str() + 2);
    return n >= 1 && n <= tango_snapshot::channels ? n - 1 : -1;
}

class channel_class : public Tango::DeviceClass
{
public:
    explicit channel_class(const std::string& name) : Tango::DeviceClass(const_cast<std::string&>(name)) {}

protected:
    void command_factory() override
    {
        for (const char* c : {"On", "Off", "ClearErrors", "AcknowledgeAlarm"})
            command_list.push_back(new void_command<channel_device>(c, c));
    }
    void attribute_factory(std::vector<Tango::Attr*>& list) override
    {
        for (int a = 0; a < tango_attr_count; ++a) {
            const tango_attribute_info& info = tango_attribute_table()[size_t(a)];
            long type = Tango::DEV_DOUBLE;
            if (info.type == tango_value_type::integer)
                type = Tango::DEV_LONG;
            else if (info.type == tango_value_type::flag)
                type = Tango::DEV_BOOLEAN;
            else if (info.type == tango_value_type::text)
                type = Tango::DEV_STRING;
            auto* attr = new channel_attribute(a, type, info.writable ? Tango::READ_WRITE : Tango::READ);
            Tango::UserDefaultAttrProp prop;
            prop.set_unit(default_unit(a));
            if (info.type == tango_value_type::real)
                prop.set_format(a == int(tango_attr::frequency) || a == int(tango_attr::frequency_setpoint) ? "%.0f" : "%.2f");
            attr->set_default_properties(prop);
            list.push_back(attr);
        }
    }
    void device_factory(const Tango::DevVarStringArray* names) override
    {
        std::vector<std::string> wanted;
        if (Tango::Util::_UseDb) {
            for (CORBA::ULong i = 0; i < names->length(); ++i)
                wanted.push_back(std::string((*names)[i]));
        } else {
            wanted = the_server->config.device_names();
            wanted.pop_back(); // the program device has its own class
        }
        for (const std::string& name : wanted) {
            const int index = channel_index(name);
            if (index < 0)
                continue;
            auto* dev = new channel_device(this, name, index);
            device_list.push_back(dev);
            {
                std::lock_guard<std::mutex> lock(the_server->devices_mutex);
                the_server->channels.push_back(dev);
            }
            if (Tango::Util::_UseDb)
                export_device(dev);
            else
                export_device(dev, name.c_str());
        }
    }
};

class studio_class : public Tango::DeviceClass
{
public:
    explicit studio_class(const std::string& name) : Tango::DeviceClass(const_cast<std::string&>(name)) {}

protected:
    void command_factory() override
    {
        for (const char* c : {"AllOutputsOff", "AcknowledgeAlarms"})
            command_list.push_back(new void_command<studio_device>(c, c));
    }
    void attribute_factory(std::vector<Tango::Attr*>& list) override
    {
        list.push_back(new studio_attribute("connected", Tango::DEV_BOOLEAN));
        list.push_back(new studio_attribute("recording", Tango::DEV_BOOLEAN));
        list.push_back(new studio_lines("alarms", tango_snapshot::channels));
        list.push_back(new studio_lines("log", 50));
    }
    void device_factory(const Tango::DevVarStringArray* names) override
    {
        const std::string name = Tango::Util::_UseDb ? (names->length() ? std::string((*names)[0]) : std::string())
                                                      : the_server->config.device_names().back();
        if (name.empty())
            return;
        auto* dev = new studio_device(this, name);
        device_list.push_back(dev);
        {
            std::lock_guard<std::mutex> lock(the_server->devices_mutex);
            the_server->studio = dev;
        }
        if (Tango::Util::_UseDb)
            export_device(dev);
        else
            export_device(dev, name.c_str());
    }
};

void add_classes(Tango::DServer* ds)
{
    ds->_add_class(new channel_class("CorvaneChannel"));
    ds->_add_class(new studio_class("CorvaneStudio"));
}

// Runs tango_admin with these arguments, quietly; its exit status (-1 when
// it could not run). No shell: names go to it as they are, and the
// program's SIGINT/SIGQUIT handling stays as it is meanwhile (system()
// ignores both in the whole process while the command runs).
int tango_admin(const std::vector<std::string>& arguments)
{
    std::vector<std::string> args{"tango_admin"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&quiet, 1, 2);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "tango_admin", &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (failed)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// TANGO ends the whole process (exit 255) when the database cannot be
// reached or the server is not registered: both are checked here first,
// and the server is registered on its first start.
bool tango_server::impl::check_database(std::string& why)
{
    const char* host = std::getenv("TANGO_HOST");
    if (tango_admin({"--ping-database", "3"}) != 0) {
        why = std::string("the TANGO database at ") + (host ? host : "(TANGO_HOST not set)") +
              " does not answer (tango_admin --ping-database; is tango_admin installed?)";
        return false;
    }
    const std::string server = config.server + "/" + config.instance;
    if (tango_admin({"--check-server", server}) != 0) {
        std::vector<std::string> names = config.device_names();
        const std::string studio = names.back();
        names.pop_back();
        std::string list;
        for (const std::string& n : names)
            list += (list.empty() ? "" : ",") + n;
        if (tango_admin({"--add-server", server, "CorvaneChannel", list}) != 0 ||
            tango_admin({"--add-server", server, "CorvaneStudio", studio}) != 0) {
            why = "the server " + server + " could not be registered in the TANGO database";
            return false;
        }
    }
    // The same instance exported and answering elsewhere would end this process too.
    if (tango_admin({"--ping-device", "dserver/" + server}) == 0) {
        why = "the server " + server + " runs already (its admin device answers)";
        return false;
    }
    return true;
}

void tango_server::impl::run(std::vector<std::string> args)
{
    std::string why;
    if (config.use_database && !check_database(why)) {
        init_done = true;
        started(false, why);
        return;
    }
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    Tango::Util* util = nullptr;
    try {
        Tango::DServer::register_class_factory(add_classes);
        util = Tango::Util::init(int(argv.size() - 1), argv.data());
        util->server_init(false);
    } catch (const Tango::DevFailed& e) {
        why = e.errors.length() ? std::string(e.errors[0].desc.in()) : std::string("TANGO failed");
    } catch (const CORBA::Exception& e) {
        why = std::string("CORBA ") + e._name() + " (is the port in use?)";
    } catch (const std::exception& e) {
        why = e.what();
    }
    if (!why.empty()) {
        init_done = true;
        started(false, why);
        return;
    }
    serving = true;
    init_done = true;
    started(true, std::string());
    {
        std::lock_guard<std::mutex> lock(pusher_mutex);
        pusher_due = true;
    }
    pusher_wake.notify_one();
    try {
        util->server_run();
    } catch (...) {
    }
    serving = false;
    if (!stopping.load() && stopped)
        stopped();
}

void tango_server::impl::push_loop()
{
    omni_thread::ensure_self self;
    std::unique_lock<std::mutex> lock(pusher_mutex);
    for (;;) {
        pusher_wake.wait(lock, [this] { return pusher_quit || pusher_due; });
        if (pusher_quit)
            return;
        pusher_due = false;
        lock.unlock();
        if (serving.load() && !stopping.load())
            push_events();
        lock.lock();
    }
}

namespace {

bool differs(double a, double b, double threshold)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) != std::isnan(b);
    return std::fabs(a - b) >= threshold;
}

// The set-point's range as the panel's field has it now: TANGO refuses
// writes outside it itself. (Unit and format stay the class defaults: TANGO
// 9.3 writes changed properties to a database, and has none here.)
void apply_range(channel_device& dev, const tango_channel_snapshot& s, int a, bool first)
{
    const size_t i = size_t(a);
    if (!tango_attribute_table()[i].writable || std::isnan(s.min_value[i]) || std::isnan(s.max_value[i]))
        return;
    const tango_channel_snapshot& old = dev.last;
    if (!first && !differs(old.min_value[i], s.min_value[i], 1e-9) && !differs(old.max_value[i], s.max_value[i], 1e-9))
        return;
    Tango::WAttribute& att = dev.get_device_attr()->get_w_attr_by_name(tango_attribute_table()[i].name);
    const Tango::DevDouble low = s.min_value[i];
    const Tango::DevDouble high = s.max_value[i];
    // Widening first keeps min below max at every step.
    if (low < old.min_value[i] || first) {
        att.set_min_value(low);
        att.set_max_value(high);
    } else {
        att.set_max_value(high);
        att.set_min_value(low);
    }
}

template <class Device>
void push_both(Device& dev, const char* name, Tango::DevDouble* value, Tango::AttrQuality q)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    dev.push_change_event(name, value, now, q, 1, 0, false);
    dev.push_archive_event(name, value, now, q, 1, 0, false);
}

void push_channel(channel_device& dev, const tango_channel_snapshot& s)
{
    const bool first = !dev.pushed;
    const tango_channel_snapshot& old = dev.last;
    const tango_state old_state = old.state;
    struct timeval now;
    gettimeofday(&now, nullptr);
    for (int a = 0; a < tango_attr_count; ++a) {
        const size_t i = size_t(a);
        const tango_attribute_info& info = tango_attribute_table()[i];
        try {
            apply_range(dev, s, a, first);
        } catch (const Tango::DevFailed&) {
            // A range the attribute does not take is left as it was.
        }
        const bool available = !std::isnan(s.value[i]) || (a == int(tango_attr::mode) && !s.mode.empty());
        if (!available)
            continue;
        const bool changed = first || old.fresh != s.fresh || differs(old.value[i], s.value[i], info.change) ||
                             (a == int(tango_attr::mode) && old.mode != s.mode);
        if (!changed)
            continue;
        const Tango::AttrQuality q = s.fresh ? Tango::ATTR_VALID : Tango::ATTR_INVALID;
        try {
            switch (info.type) {
            case tango_value_type::real: {
                Tango::DevDouble v = s.value[i];
                push_both(dev, info.name, &v, q);
                break;
            }
            case tango_value_type::integer: {
                Tango::DevLong v = Tango::DevLong(s.value[i]);
                dev.push_change_event(info.name, &v, now, q, 1, 0, false);
                dev.push_archive_event(info.name, &v, now, q, 1, 0, false);
                break;
            }
            case tango_value_type::flag: {
                Tango::DevBoolean v = s.value[i] != 0;
                dev.push_change_event(info.name, &v, now, q, 1, 0, false);
                dev.push_archive_event(info.name, &v, now, q, 1, 0, false);
                break;
            }
            case tango_value_type::text: {
                std::string text = s.mode;
                Tango::DevString v = const_cast<char*>(text.c_str());
                dev.push_change_event(info.name, &v, now, q, 1, 0, false);
                dev.push_archive_event(info.name, &v, now, q, 1, 0, false);
                break;
            }
            }
        } catch (const Tango::DevFailed&) {
        }
    }
    if (first || old_state != s.state) {
        Tango::DevState st = to_tango(s.state);
        dev.set_state(st);
        try {
            dev.push_change_event("State", &st, now, Tango::ATTR_VALID, 1, 0, false);
            dev.push_archive_event("State", &st, now, Tango::ATTR_VALID, 1, 0, false);
        } catch (const Tango::DevFailed&) {
        }
    }
    dev.last = s;
    dev.pushed = true;
}

void push_studio(studio_device& dev, const tango_studio_snapshot& s)
{
    const bool first = !dev.pushed;
    struct timeval now;
    gettimeofday(&now, nullptr);
    try {
        for (const char* name : {"connected", "recording"}) {
            const bool connected = std::string(name) == "connected";
            Tango::DevBoolean v = connected ? s.connected : s.recording;
            const bool was = connected ? dev.last.connected : dev.last.recording;
            if (first || was != bool(v)) {
                dev.push_change_event(name, &v, now, Tango::ATTR_VALID, 1, 0, false);
                dev.push_archive_event(name, &v, now, Tango::ATTR_VALID, 1, 0, false);
            }
        }
        for (const char* name : {"alarms", "log"}) {
            const bool alarms = std::string(name) == "alarms";
            const std::vector<std::string>& lines = alarms ? s.alarms : s.log;
            if (!first && lines == (alarms ? dev.last.alarms : dev.last.log))
                continue;
            std::vector<Tango::DevString> p;
            for (const std::string& l : lines)
                p.push_back(const_cast<char*>(l.c_str()));
            Tango::DevString empty = const_cast<char*>("");
            Tango::DevString* data = p.empty() ? &empty : p.data();
            dev.push_change_event(name, data, now, Tango::ATTR_VALID, long(p.size()), 0, false);
            dev.push_archive_event(name, data, now, Tango::ATTR_VALID, long(p.size()), 0, false);
        }
    } catch (const Tango::DevFailed&) {
    }
    dev.last = s;
    dev.pushed = true;
}

} // namespace

void tango_server::impl::push_events()
{
    tango_snapshot s;
    {
        std::lock_guard<std::mutex> lock(snapshot_mutex);
        s = snapshot;
    }
    std::lock_guard<std::mutex> lock(devices_mutex);
    for (channel_device* dev : channels) {
        Tango::AutoTangoMonitor sync(dev);
        push_channel(*dev, s.channel[size_t(dev->index)]);
    }
    if (studio) {
        Tango::AutoTangoMonitor sync(studio);
        push_studio(*studio, s.studio);
    }
}

tango_server::tango_server(handler h, started_fn started, stopped_fn stopped) : d(std::make_unique<impl>())
{
    d->handle = std::move(h);
    d->started = std::move(started);
    d->stopped = std::move(stopped);
}

tango_server::~tango_server()
{
    stop([] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
}

bool tango_server::available()
{
    return true;
}

bool tango_server::start(const tango_config& config, std::string& why)
{
    why = config.instance_problem();
    if (!why.empty())
        return false;
    if (d->ever_started.exchange(true)) {
        why = "TANGO cannot be started twice in one run; restart the program";
        return false;
    }
    the_server = d.get();
    d->config = config;
    const std::vector<std::string> names = config.device_names();
    std::vector<std::string> args{config.server, config.instance};
    std::string endpoint = "giop:tcp:" + (config.endpoint.find(':') != std::string::npos
                                              ? "[" + config.endpoint + "]" : config.endpoint) + ":";
    if (config.port > 0)
        endpoint += std::to_string(config.port);
    if (!config.use_database) {
        std::string list;
        for (const std::string& n : names)
            list += (list.empty() ? "" : ",") + n;
        args.insert(args.end(), {"-nodb", "-dlist", list});
    }
    args.insert(args.end(), {"-ORBendPoint", endpoint});
    d->pusher = std::thread([this] { d->push_loop(); });
    d->server_thread = std::thread([this, args] { d->run(args); });
    return true;
}

void tango_server::publish(const tango_snapshot& s)
{
    {
        std::lock_guard<std::mutex> lock(d->snapshot_mutex);
        d->snapshot = s;
    }
    {
        std::lock_guard<std::mutex> lock(d->pusher_mutex);
        d->pusher_due = true;
    }
    d->pusher_wake.notify_one();
}

bool tango_server::running() const
{
    return d->serving.load();
}

void tango_server::stop(const std::function<void()>& wait)
{
    if (!d->ever_started.load() || d->stopping.exchange(true))
        return;
    {
        std::lock_guard<std::mutex> lock(d->pusher_mutex);
        d->pusher_quit = true;
    }
    d->pusher_wake.notify_one();
    if (d->pusher.joinable())
        d->pusher.join();
    // TANGO stops itself only from a thread it does not own, through its
    // admin device; the caller keeps answering requests in flight meanwhile.
    auto killed = std::async(std::launch::async, [this] {
        omni_thread::ensure_self self;
        while (!d->init_done.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        Tango::Util* util = nullptr;
        try {
            util = d->serving.load() ? Tango::Util::instance(false) : nullptr;
        } catch (...) {
        }
        if (util && !util->is_svr_shutting_down()) {
            try {
                util->get_dserver_device()->kill();
            } catch (...) {
            }
        }
        if (d->server_thread.joinable())
            d->server_thread.join();
    });
    while (killed.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
        wait();
    killed.get();
    the_server = nullptr;
}
