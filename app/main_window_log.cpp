// The event log: what happened, when and by whose hand, shown in the Log dock
// and appended to recordings/events.jsonl.
#include "MainWindow.h"

#include "driver_type.h"
#include "event_log.h"
#include "laser_object.h"
#include "log_page.h"
#include "main_window_form.h"

#include <QDebug>
#include <QAction>
#include <QDockWidget>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QToolButton>

namespace {

QString origin_name(command_origin from)
{
    switch (from) {
    case command_origin::panel: return QStringLiteral("panel");
    case command_origin::remote: return QStringLiteral("remote client");
    case command_origin::outputs_off: return QStringLiteral("all outputs off");
    case command_origin::tango: return QStringLiteral("tango client");
    }
    return QString();
}

} // namespace

void MainWindow::setup_event_log()
{
    events = std::make_unique<event_log>();
    events->start_file(QStringLiteral("recordings"));
    connect(events.get(), &event_log::sig_file_failed, this, [](const QString& why) {
        qWarning().noquote() << "event log: file not written:" << why;
    });

    auto* dock = new QDockWidget(tr("Log"), this); // owned by the window
    dock->setObjectName(QStringLiteral("log_dock"));
    dock->setWidget(new log_page(*events, dock));
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    dock->hide();
    auto* toggle = new QToolButton(ui->widget_21);
    toggle->setObjectName(QStringLiteral("log_button"));
    dock->toggleViewAction()->setShortcut(QKeySequence(QStringLiteral("Ctrl+L")));
    dock->toggleViewAction()->setToolTip(tr("Show or hide the event log (Ctrl+L)"));
    toggle->setDefaultAction(dock->toggleViewAction());
    toggle->setFocusPolicy(Qt::NoFocus);
    ui->widget_21->layout()->addWidget(toggle);

    for (const auto& laser : lasers) {
        const int channel = laser->index + 1;
        connect(laser.get(), &laser_object::sig_commanded, this, [this, channel](int, command_origin from, const QString& what) {
            const bool output = what.startsWith(QLatin1String("output"));
            const QString origin = from == command_origin::tango && !tango_client.isEmpty()
                                       ? origin_name(from) + QLatin1Char(' ') + tango_client
                                       : origin_name(from);
            events->add(output ? log_kind::output : log_kind::setpoint, channel, origin, what);
        });
        connect(laser.get(), &laser_object::sig_alarm, this, [this, channel](int, const QString& text) {
            events->add(log_kind::alarm, channel, QStringLiteral("system"), text);
        });
    }
}

void MainWindow::log_event_text(int kind, int channel, const QString& origin, const QString& text)
{
    if (events)
        events->add(log_kind(kind), channel, origin, text);
}

void MainWindow::log_parameter_written(int index, const QString& what)
{
    if (events)
        events->add(log_kind::parameter, index + 1, QStringLiteral("parameters window"), tr("written: %1").arg(what));
}

// Boards found and lost, converter flags: said once per change.
void MainWindow::log_channel_changes()
{
    if (!events)
        return;
    for (const auto& laser : lasers) {
        const size_t i = size_t(laser->index);
        const int channel = laser->index + 1;
        const bool answering = laser->enabled && laser->answering();
        if (answering != logged_answering[i]) {
            logged_answering[i] = answering;
            events->add(log_kind::board, channel, QStringLiteral("system"),
                        answering ? tr("board answers: %1").arg(driver_type::name(laser->worker->device_type.load()))
                                  : tr("board lost: %1").arg(laser->staleness()));
        }
        const dcdc_model_struct& m = laser->worker->dcdc_model;
        const uint32_t flags = laser->worker->device_type.load() == driver_type::power_dcdc
                                   ? uint32_t(m.fault_flags) << 16 | m.warning_flags : 0;
        if (flags != logged_flags[i]) {
            logged_flags[i] = flags;
            events->add(log_kind::fault, channel, QStringLiteral("system"),
                        flags ? tr("converter flags: fault 0x%1, warning 0x%2")
                                    .arg(m.fault_flags, 4, 16, QLatin1Char('0'))
                                    .arg(m.warning_flags, 4, 16, QLatin1Char('0'))
                              : tr("converter flags cleared"));
        }
    }
}
