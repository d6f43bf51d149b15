#include "laser_worker.h"

#include "driver_type.h"
#include "pace_clock.h"

#include <array>

namespace {

constexpr int normal_pace_ms = 15;
constexpr int mini_usb_pace_ms = 50;
constexpr int pass_rest_ms = 300;
// A wait on the pace grid ends at the first grid instant at least this much
// short of the wait after now: a thread woken a little late for its instant
// keeps its place on the grid instead of losing one pace.
constexpr std::chrono::microseconds grid_slack{2000};

// One step of a poll sequence: a get request, or a byte set command sent
// with the value 1 (the TEC kept on by every monitoring pass).
template <typename Model>
struct poll_step
{
    void (Model::*get)(char*, uint32_t*) const = nullptr;
    void (Model::*set_one)(int8_t, char*, uint32_t*) const = nullptr;
};

template <typename Model>
poll_step<Model> get(void (Model::*f)(char*, uint32_t*) const)
{
    return {f, nullptr};
}

template <typename Model>
poll_step<Model> set_one(void (Model::*f)(int8_t, char*, uint32_t*) const)
{
    return {nullptr, f};
}

using cw = cw_model_struct;
using pulse = pulse_model_struct;
using ns = ns_model_struct;
using dcdc = dcdc_model_struct;

const std::array<poll_step<cw>, 8> cw_param_sequence{{
    get(&cw::get_thermistor_r25), get(&cw::get_thermistor_beta),
    get(&cw::get_monitor_responsivity), get(&cw::get_current_max),
    get(&cw::get_current_min), get(&cw::get_temp_max), get(&cw::get_temp_min),
    get(&cw::get_max_tec_current),
}};

const std::array<poll_step<cw>, 10> cw_monitor_sequence{{
    get(&cw::get_laser_on), set_one(&cw::set_tec_on), get(&cw::get_current),
    get(&cw::get_temperature), get(&cw::get_power), get(&cw::get_current_max),
    get(&cw::get_current_min), get(&cw::get_temp_max), get(&cw::get_temp_min),
    get(&cw::get_max_tec_current),
}};

// PS and NS share their parameter read-out.
const std::array<poll_step<pulse>, 7> pulse_param_sequence{{
    get(&pulse::get_thermistor_r25), get(&pulse::get_thermistor_beta),
    get(&pulse::get_monitor_responsivity), get(&pulse::get_voltage_max),
    get(&pulse::get_voltage_min), get(&pulse::get_temp_max), get(&pulse::get_temp_min),
}};

const std::array<poll_step<pulse>, 12> ps_monitor_sequence{{
    get(&pulse::get_mode), set_one(&pulse::set_tec_on), get(&pulse::get_pulsed_laser_on),
    get(&pulse::get_voltage), get(&pulse::get_temperature), get(&pulse::get_pulse_gated),
    get(&pulse::get_frequency), get(&pulse::get_pulse_cutted), get(&pulse::get_voltage_max),
    get(&pulse::get_voltage_min), get(&pulse::get_temp_max), get(&pulse::get_temp_min),
}};

const std::array<poll_step<ns>, 13> ns_monitor_sequence{{
    get<ns>(&pulse::get_mode), set_one<ns>(&pulse::set_tec_on),
    get<ns>(&pulse::get_pulsed_laser_on), get<ns>(&pulse::get_voltage),
    get<ns>(&pulse::get_temperature), get<ns>(&pulse::get_pulse_gated),
    get<ns>(&pulse::get_frequency), get<ns>(&pulse::get_pulse_cutted),
    get<ns>(&ns::get_pulse_width), get<ns>(&pulse::get_voltage_max),
    get<ns>(&pulse::get_voltage_min), get<ns>(&pulse::get_temp_max),
    get<ns>(&pulse::get_temp_min),
}};

const std::array<poll_step<dcdc>, 6> dcdc_monitor_sequence{{
    get(&dcdc::get_output_on), get(&dcdc::get_current), get(&dcdc::get_temperature),
    get(&dcdc::get_fault_flags), get(&dcdc::get_output_voltage), get(&dcdc::get_input_voltage),
}};

} // namespace

laser_worker::laser_worker(QObject* parent, int start_delay_ms)
    : QThread(parent), start_delay_ms(start_delay_ms)
{
}

laser_worker::~laser_worker()
{
    stop_and_wait();
}

void laser_worker::start_polling()
{
    running.store(true);
    for (;;) {
        if (!isRunning()) {
            exit_state.store(looping);
            abort_requested.store(false);
            while (wake.tryAcquire()) {
            }
            start(QThread::InheritPriority);
            return;
        }
        const int phase = exit_state.load();
        if (phase == looping)
            return; // the loop will see running at the top of its next pass
        if (phase == leaving) {
            wait(); // it has decided to end; let it, then start afresh
            continue;
        }
        yieldCurrentThread(); // deciding: settles within a few instructions
    }
}

void laser_worker::stop_polling()
{
    running.store(false);
}

void laser_worker::stop_and_wait()
{
    running.store(false);
    abort_requested.store(true);
    wake.release();
    wait();
    abort_requested.store(false);
    while (wake.tryAcquire()) {
    }
}

bool laser_worker::sleep_ms(int ms)
{
    if (abort_requested.load())
        return false;
    wake.tryAcquire(1, ms);
    return !abort_requested.load();
}

bool laser_worker::sleep_on_grid(int ms, int pace_ms, std::chrono::microseconds slack)
{
    using namespace std::chrono;
    const auto now = pace_clock::clock::now();
    const auto until = pace_clock::next_slot(now + milliseconds(ms) - slack, milliseconds(pace_ms));
    // The wait has whole milliseconds. Between frames it ends up to one early,
    // which still makes the instant's tick of the serial thread; ending late
    // would risk missing it. A wait without slack (the start delay) is never short.
    const auto wait = slack.count() > 0 ? floor<milliseconds>(until - now) : ceil<milliseconds>(until - now);
    return sleep_ms(int(wait.count()));
}

bool laser_worker::keep_looping()
{
    // Announce the decision before reading running, so that start_polling
    // either sees this pass go on or waits for a thread that really ends.
    exit_state.store(deciding);
    if (running.load() && !abort_requested.load()) {
        exit_state.store(looping);
        return true;
    }
    exit_state.store(leaving);
    return false;
}

template <typename Encode>
bool laser_worker::send_query(int pace_ms, Encode&& encode)
{
    char buf[32];
    uint32_t len = 0;
    encode(buf, &len);
    emit thread_serial_write(QByteArray(buf, static_cast<int>(len)));
    return sleep_on_grid(pace_ms, pace_ms, grid_slack);
}

namespace {

template <typename Model, typename Sequence, typename Send>
bool send_sequence(const Model& model, const Sequence& sequence, Send&& send)
{
    for (const auto& step : sequence) {
        const bool go_on = send([&](char* buf, uint32_t* len) {
            if (step.get)
                (model.*step.get)(buf, len);
            else
                (model.*step.set_one)(1, buf, len);
        });
        if (!go_on)
            return false;
    }
    return true;
}

} // namespace

bool laser_worker::send_identification(int pace_ms)
{
    return send_query(pace_ms, [this](char* b, uint32_t* l) { cw_model.get_device_type(b, l); })
        && send_query(pace_ms, [this](char* b, uint32_t* l) { cw_model.get_can_id(b, l); });
}

bool laser_worker::send_type_sequence(int pace_ms)
{
    const bool params = param_reading.load();
    const bool monitor = poll_enabled.load();
    if (!params && !monitor)
        return true;
    const int32_t type = device_type.load();
    auto send = [this, pace_ms](auto&& encode) { return send_query(pace_ms, encode); };

    if (driver_type::is_cw_family(type))
        return params ? send_sequence(cw_model, cw_param_sequence, send)
                      : send_sequence(cw_model, cw_monitor_sequence, send);
    if (type == driver_type::ps)
        return params ? send_sequence<pulse>(ps_model, pulse_param_sequence, send)
                      : send_sequence<pulse>(ps_model, ps_monitor_sequence, send);
    if (driver_type::is_ns_family(type))
        return params ? send_sequence<pulse>(ns_model, pulse_param_sequence, send)
                      : send_sequence(ns_model, ns_monitor_sequence, send);
    if (type == driver_type::power_dcdc && !params)
        return send_sequence(dcdc_model, dcdc_monitor_sequence, send);
    return true; // no sequence for this type and mode
}

void laser_worker::run()
{
    const int first_pace = mini_usb_mode.load() ? mini_usb_pace_ms : normal_pace_ms;
    if (!sleep_on_grid(start_delay_ms, first_pace, std::chrono::microseconds{0})) {
        exit_state.store(leaving);
        return;
    }
    while (keep_looping()) {
        const int pace = mini_usb_mode.load() ? mini_usb_pace_ms : normal_pace_ms;
        if (poll_enabled.load() || param_reading.load()) {
            if (!send_identification(pace))
                break;
        }
        if (!send_type_sequence(pace) || !sleep_on_grid(pass_rest_ms, pace, grid_slack))
            break;
    }
    exit_state.store(leaving);
}
