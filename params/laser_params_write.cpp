// The parameters window's SET: the frame three times, paced by a timer.
#include "laser_params.h"

#include "ui_laser_params.h"

#include "build_can_frame.h"
#include "laser_object.h"
#include "laser_worker.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int pause_ms = 50; // lets the parameter poll fall silent, and paces the repeats
constexpr int repeats = 3;   // set commands are idempotent; repeats cover lost frames

} // namespace

void laser_params::send_sequence(const QString& what, const frame_encoder& encode)
{
    if (!laser || !laser->worker)
        return;
    if (!write_pacer) {
        write_pacer = new QTimer(this);
        write_pacer->setSingleShot(true);
        connect(write_pacer, &QTimer::timeout, this, &laser_params::write_step);
    }
    writes.push_back({laser, what, encode, {}});
    if (writes.size() == 1) {
        write_stage = 0;
        write_step();
    }
}

void laser_params::write_step()
{
    if (writes.empty())
        return;
    pending_write& w = writes.front();
    laser_object* const bound = w.bound.data();
    // Stage 0 pauses the poll, 1 to 3 send the copies, 4 resumes the poll.
    int stage = write_stage++;
    if (!bound || !bound->worker)
        stage = repeats + 1; // the channel went: nothing to send
    if (stage == 0) {
        ui->set_refused_label->hide(); // a refusal speaks of the previous SET only
        bound->worker->param_reading = false;
        write_pacer->start(pause_ms);
        return;
    }
    if (stage == 1) {
        char buf[can_frame_line_length] = {};
        uint32_t len = 0;
        if (!w.encode(*bound->worker, buf, &len)) {
            stage = repeats + 1;
        } else {
            w.frame = QByteArray(buf, static_cast<int>(len));
            emit sig_parameter_written(bound->index, w.what);
        }
    }
    if (stage <= repeats) {
        emit sig_thread_serial_write(w.frame);
        write_pacer->start(pause_ms);
        return;
    }
    // Closing the window during the pauses handed the channel back to normal
    // polling; taking it for the parameter poll again would starve its panel.
    if (bound && laser == bound && isVisible())
        bound->worker->param_reading = true;
    writes.pop_front();
    write_stage = 0;
    if (!writes.empty())
        write_step();
}
