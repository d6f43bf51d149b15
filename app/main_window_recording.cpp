// Recording: the Record control of the status strip, the recorder that samples
// the enabled channels, and the message when a recording fails.
#include "MainWindow.h"

#include "channel_reading.h"
#include "laser_object.h"
#include "log_event.h"
#include "main_window_form.h"
#include "recorder.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QTime>

namespace {

const int interval_choices_ms[] = {500, 1000, 10000, 60000};
// A board's readings arrive one reply after the other once its type is known;
// until every reply of a polling pass came (about half a second), some still
// hold the record's initial zeros.
constexpr qint64 first_pass_ms = 1000;
// Rows waiting this long for the disk are shown in the status strip.
constexpr qint64 behind_shown_s = 3;

} // namespace

void MainWindow::setup_recording()
{
    recordings = std::make_unique<recorder>([this] { return enabled_readings(); });
    connect(ui->record_button, &QPushButton::clicked, this, &MainWindow::sl_record_clicked);
    connect(ui->record_interval_combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &MainWindow::sl_record_interval_chosen);
    connect(recordings.get(), &recorder::sig_started, this, [this](const QString& file) {
        log_event_text(int(log_kind::recording), 0, QStringLiteral("system"), tr("recording started: %1").arg(file));
        show_recording_state();
    });
    connect(recordings.get(), &recorder::sig_stopped, this, [this] {
        log_event_text(int(log_kind::recording), 0, QStringLiteral("system"), tr("recording stopped"));
        show_recording_state();
    });
    connect(recordings.get(), &recorder::sig_failed, this, &MainWindow::show_recording_failure);
    connect(&record_clock_timer, &QTimer::timeout, this, &MainWindow::show_recording_state);
    record_clock_timer.setInterval(1000);
}

void MainWindow::start_recording(const QString& file)
{
    recordings->start(file);
    show_recording_state();
}

void MainWindow::sl_record_clicked(bool on)
{
    if (on)
        start_recording();
    else
        recordings->stop();
}

void MainWindow::sl_record_interval_chosen(int index)
{
    if (index >= 0 && index < int(std::size(interval_choices_ms)))
        recordings->set_interval_ms(interval_choices_ms[index]);
}

void MainWindow::show_recording_state()
{
    const bool active = recordings->active();
    ui->record_button->setChecked(active);
    ui->record_button->setText(active ? tr("Stop recording") : tr("Record"));
    if (active && !record_clock_timer.isActive())
        record_clock_timer.start();
    if (!active) {
        record_clock_timer.stop();
        ui->record_label->clear();
        ui->record_label->setToolTip(QString());
        return;
    }
    const QString elapsed = QTime(0, 0).addMSecs(int(recordings->elapsed_ms() % 86400000)).toString(QStringLiteral("HH:mm:ss"));
    const qint64 days = recordings->elapsed_ms() / 86400000;
    const QString file = recordings->file();
    // A disk that does not keep up shows before it stops the recording.
    const qint64 behind_s = recordings->behind_ms() / 1000;
    ui->record_label->setText(tr("REC %1%2%3 %4")
                                  .arg(behind_s >= behind_shown_s ? tr("behind %1 s  ").arg(behind_s) : QString(),
                                       days ? QString::number(days) + QStringLiteral("d ") : QString(), elapsed,
                                       file.isEmpty() ? QStringLiteral("...") : QFileInfo(file).fileName()));
    ui->record_label->setToolTip(file);
}

void MainWindow::show_recording_failure(const QString& message)
{
    log_event_text(int(log_kind::recording), 0, QStringLiteral("system"), tr("recording failed: %1").arg(message));
    show_recording_state();
    ui->record_label->setText(tr("Recording stopped"));
    ui->record_label->setToolTip(message);
    // Not modal: polling, panels and the rest of the window carry on.
    if (!record_failure_box) {
        record_failure_box = new QMessageBox(QMessageBox::Warning, tr("Recording"), message, QMessageBox::Ok, this);
        record_failure_box->setAttribute(Qt::WA_DeleteOnClose);
        record_failure_box->setModal(false);
    }
    record_failure_box->setText(message);
    record_failure_box->show();
}

std::vector<channel_reading> MainWindow::enabled_readings()
{
    std::vector<channel_reading> out;
    for (size_t i = 0; i < lasers.size(); ++i) {
        if (!lasers[i] || !lasers[i]->enabled)
            continue;
        channel_reading r = lasers[i]->reading();
        QElapsedTimer& since = present_since[i];
        if (!r.present)
            since.invalidate();
        else if (!since.isValid())
            since.start();
        if (r.present && since.elapsed() < first_pass_ms)
            r.fresh = false;
        out.push_back(std::move(r));
    }
    return out;
}
