#include "laser_worker.h"

#include "driver_type.h"

#include <array>

namespace {

constexpr std::chrono::milliseconds normal_pace{15};
constexpr std::chrono::milliseconds mini_usb_pace{50};
constexpr std::chrono::milliseconds pass_rest{300};

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

template <typename Model, std::size_t N>
QByteArray encode_step(const Model& model, const std::array<poll_step<Model>, N>& sequence, int index)
{
    char buf[32];
    uint32_t len = 0;
    const poll_step<Model>& step = sequence[std::size_t(index)];
    if (step.get)
        (model.*step.get)(buf, &len);
    else
        (model.*step.set_one)(1, buf, &len);
    return QByteArray(buf, int(len));
}

} // namespace

laser_worker::laser_worker(QObject* parent, int start_delay_ms)
    : laser_worker(poll_scheduler::shared(), parent, start_delay_ms)
{
}

laser_worker::laser_worker(std::shared_ptr<poll_scheduler> scheduler, QObject* parent, int start_delay_ms)
    : QObject(parent), scheduler(std::move(scheduler)), start_delay_ms(start_delay_ms)
{
}

laser_worker::~laser_worker()
{
    stop_and_wait();
}

bool laser_worker::polls_from_here()
{
    return poll_scheduler::in_scheduler_thread();
}

std::chrono::milliseconds laser_worker::pace() const
{
    return mini_usb_mode.load() ? mini_usb_pace : normal_pace;
}

void laser_worker::start_polling()
{
    // Under the scheduler's lock: a pass either sees running set at its top
    // or has left the schedule already, and then this joins it afresh.
    scheduler->locked([this] { running.store(true); });
    scheduler->join(this, std::chrono::milliseconds(start_delay_ms), pace());
}

void laser_worker::stop_polling()
{
    running.store(false);
}

void laser_worker::stop_and_wait()
{
    running.store(false);
    scheduler->leave(this);
}

bool laser_worker::is_polling() const
{
    return scheduler->contains(const_cast<laser_worker*>(this));
}

void laser_worker::restart()
{
    phase = pass_phase::top;
}

void laser_worker::deliver(const QByteArray& frame)
{
    emit thread_serial_write(frame);
}

QByteArray laser_worker::identification_frame(bool type_query) const
{
    char buf[32];
    uint32_t len = 0;
    if (type_query)
        cw_model.get_device_type(buf, &len);
    else
        cw_model.get_can_id(buf, &len);
    return QByteArray(buf, int(len));
}

laser_worker::poll_sequence laser_worker::choose_sequence() const
{
    const bool params = param_reading.load();
    const bool monitor = poll_enabled.load();
    if (!params && !monitor)
        return poll_sequence::none;
    const int32_t type = device_type.load();
    if (driver_type::is_cw_family(type))
        return params ? poll_sequence::cw_params : poll_sequence::cw_monitor;
    if (type == driver_type::ps)
        return params ? poll_sequence::ps_params : poll_sequence::ps_monitor;
    if (driver_type::is_ns_family(type))
        return params ? poll_sequence::ns_params : poll_sequence::ns_monitor;
    if (type == driver_type::power_dcdc && !params)
        return poll_sequence::dcdc_monitor;
    return poll_sequence::none; // no sequence for this type and mode
}

int laser_worker::sequence_length(poll_sequence s)
{
    switch (s) {
    case poll_sequence::cw_params: return int(cw_param_sequence.size());
    case poll_sequence::cw_monitor: return int(cw_monitor_sequence.size());
    case poll_sequence::ps_params:
    case poll_sequence::ns_params: return int(pulse_param_sequence.size());
    case poll_sequence::ps_monitor: return int(ps_monitor_sequence.size());
    case poll_sequence::ns_monitor: return int(ns_monitor_sequence.size());
    case poll_sequence::dcdc_monitor: return int(dcdc_monitor_sequence.size());
    case poll_sequence::none: break;
    }
    return 0;
}

QByteArray laser_worker::sequence_frame(poll_sequence s, int index) const
{
    switch (s) {
    case poll_sequence::cw_params: return encode_step(cw_model, cw_param_sequence, index);
    case poll_sequence::cw_monitor: return encode_step(cw_model, cw_monitor_sequence, index);
    case poll_sequence::ps_params: return encode_step<pulse>(ps_model, pulse_param_sequence, index);
    case poll_sequence::ps_monitor: return encode_step<pulse>(ps_model, ps_monitor_sequence, index);
    case poll_sequence::ns_params: return encode_step<pulse>(ns_model, pulse_param_sequence, index);
    case poll_sequence::ns_monitor: return encode_step(ns_model, ns_monitor_sequence, index);
    case poll_sequence::dcdc_monitor: return encode_step(dcdc_model, dcdc_monitor_sequence, index);
    case poll_sequence::none: break;
    }
    return QByteArray();
}

poll_client::step laser_worker::poll_step()
{
    // One pass: the two identification frames when a flag is set, then the
    // sequence of the type and mode, one frame per pace; after the last one
    // a pace and the rest. The flags and the type are read where a pass of
    // its own thread used to read them.
    step s;
    switch (phase) {
    case pass_phase::top:
        if (!running.load()) {
            s.leave = true;
            return s;
        }
        pass_pace = pace();
        s.pace = pass_pace;
        if (poll_enabled.load() || param_reading.load()) {
            s.frame = identification_frame(true);
            s.next = pass_pace;
            phase = pass_phase::can_id;
            return s;
        }
        return begin_sequence();
    case pass_phase::can_id:
        s.frame = identification_frame(false);
        s.pace = pass_pace;
        s.next = pass_pace;
        phase = pass_phase::sequence_start;
        return s;
    case pass_phase::sequence_start:
        return begin_sequence();
    case pass_phase::sequence:
        return sequence_step();
    }
    return s;
}

poll_client::step laser_worker::begin_sequence()
{
    sequence = choose_sequence();
    sequence_index = 0;
    if (sequence_length(sequence) == 0) {
        step s;
        s.pace = pass_pace;
        s.next = pass_rest;
        phase = pass_phase::top;
        return s;
    }
    return sequence_step();
}

poll_client::step laser_worker::sequence_step()
{
    step s;
    s.pace = pass_pace;
    s.frame = sequence_frame(sequence, sequence_index);
    ++sequence_index;
    if (sequence_index < sequence_length(sequence)) {
        s.next = pass_pace;
        phase = pass_phase::sequence;
    } else {
        s.next = pass_pace + pass_rest;
        phase = pass_phase::top;
    }
    return s;
}
