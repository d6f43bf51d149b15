#include "trends_page.h"

#include "channel_plot.h"
#include "channel_reading.h"
#include "trend_clock.h"
#include "trend_store.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <qcustomplot.h>

#include <algorithm>

namespace {

const double spans_s[] = {60.0, 600.0, 3600.0, 86400.0};
constexpr double shortest_span_s = 10.0;
constexpr double longest_span_s = 86400.0;

} // namespace

trends_page::trends_page(const trend_store& store, reading_source source, QWidget* parent)
    : QWidget(parent)
    , history(store)
    , readings(std::move(source))
    , span_combo(new QComboBox(this))
    , live_button(new QPushButton(tr("Live"), this))
    , save_button(new QPushButton(tr("Save as PNG"), this))
    , range_label(new QLabel(this))
    , readout_label(new QLabel(this))
    , empty_label(new QLabel(tr("No channel is enabled: enable channels in the system configuration on the Settings page."), this))
{
    setObjectName(QStringLiteral("trends_page"));
    span_combo->setObjectName(QStringLiteral("trend_span_combo"));
    live_button->setObjectName(QStringLiteral("trend_live_button"));
    save_button->setObjectName(QStringLiteral("trend_save_button"));
    span_combo->addItems({tr("1 min"), tr("10 min"), tr("1 h"), tr("24 h")});
    span_combo->setCurrentIndex(1);
    live_button->setToolTip(tr("Follow the present again (after zooming with Ctrl+wheel or moving with a drag or Shift+wheel)"));
    live_button->setEnabled(false);
    readout_label->setTextFormat(Qt::PlainText);
    readout_label->setMinimumWidth(1);
    readout_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Time span:"), this));
    controls->addWidget(span_combo);
    controls->addWidget(live_button);
    controls->addWidget(range_label, 1);
    controls->addWidget(save_button);

    scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    plots_box = new QWidget;
    auto* column = new QVBoxLayout(plots_box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    column->addWidget(empty_label);
    for (auto& p : plots) {
        p = new channel_plot(plots_box);
        p->hide();
        p->chart()->installEventFilter(this);
        // The rows share the height of the page; past their largest size it stays empty below.
        column->addWidget(p, 10);
    }
    column->addStretch(1);
    scroll->setWidget(plots_box);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(controls);
    layout->addWidget(readout_label);
    layout->addWidget(scroll, 1);

    connect(span_combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
        view_span = spans_s[std::max(0, index)];
        redraw();
    });
    connect(live_button, &QPushButton::clicked, this, &trends_page::go_live);
    connect(save_button, &QPushButton::clicked, this, &trends_page::ask_and_save);
    redraw_timer.setInterval(redraw_ms);
    connect(&redraw_timer, &QTimer::timeout, this, [this] {
        // Redrawn when the time axis has moved by about a pixel: a pixel of a
        // 10 min lane is a second or two wide, of the 24 h span a minute.
        double per_pixel_s = 0.0;
        for (const channel_plot* p : plots) {
            if (p->isVisible() && p->seconds_per_pixel() > 0) {
                per_pixel_s = p->seconds_per_pixel();
                break;
            }
        }
        if (!since_redraw.isValid() || since_redraw.elapsed() >= std::min(10000.0, 1000.0 * per_pixel_s))
            redraw();
    });
}

void trends_page::set_span(int index)
{
    span_combo->setCurrentIndex(index);
}

double trends_page::view_end() const
{
    return following ? trend_clock::now() : fixed_end;
}

QString trends_page::readout() const
{
    return readout_label->text();
}

void trends_page::redraw(bool all)
{
    ++redraw_count;
    since_redraw.start();
    const double to = view_end();
    const double from = to - view_span;
    std::array<bool, 10> enabled{};
    for (const channel_reading& r : readings()) {
        if (r.channel < 1 || r.channel > int(plots.size()))
            continue;
        channel_plot* p = plots[size_t(r.channel - 1)];
        enabled[size_t(r.channel - 1)] = true;
        p->show();
        // Scrolled out of view: brought up to date when it comes back (at the next tick).
        if (all || !p->visibleRegion().isEmpty())
            p->show_history(history, r, from, to);
    }
    bool any = false;
    for (size_t i = 0; i < plots.size(); ++i) {
        plots[i]->setVisible(enabled[i]);
        any = any || enabled[i];
    }
    empty_label->setVisible(!any);
    show_range(from, to);
}

void trends_page::show_range(double from, double to)
{
    const QString day = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const bool same_day = QDateTime::fromMSecsSinceEpoch(qint64(from * 1000)).date()
                          == QDateTime::fromMSecsSinceEpoch(qint64(to * 1000)).date();
    const QString end = QDateTime::fromMSecsSinceEpoch(qint64(to * 1000)).toString(same_day ? QStringLiteral("hh:mm:ss") : day);
    range_label->setText(tr("%1 to %2, times in %3%4")
                             .arg(QDateTime::fromMSecsSinceEpoch(qint64(from * 1000)).toString(day), end,
                                  trend_clock::zone_text(to), following ? QString() : tr(" (paused: Live follows again)")));
}

void trends_page::zoom(double factor, double around)
{
    const double to = view_end();
    const double span = std::clamp(view_span * factor, shortest_span_s, longest_span_s);
    // The time under the mouse stays where it is.
    const double share = view_span > 0 ? (to - around) / view_span : 0.0;
    fixed_end = around + share * span;
    view_span = span;
    following = false;
    pan(0.0);
}

void trends_page::pan(double seconds)
{
    if (following) {
        fixed_end = trend_clock::now();
        following = false;
    }
    fixed_end += seconds;
    // Moved up to the present: following it again.
    if (fixed_end >= trend_clock::now()) {
        go_live();
        return;
    }
    live_button->setEnabled(true);
    redraw();
}

void trends_page::go_live()
{
    following = true;
    live_button->setEnabled(false);
    redraw();
}

channel_plot* trends_page::plot_of(QObject* chart) const
{
    for (channel_plot* p : plots) {
        if (p->chart() == chart)
            return p;
    }
    return nullptr;
}

bool trends_page::eventFilter(QObject* watched, QEvent* event)
{
    channel_plot* p = plot_of(watched);
    if (!p)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const int delta = wheel->angleDelta().y() ? wheel->angleDelta().y() : wheel->angleDelta().x();
        if (wheel->modifiers() & Qt::ControlModifier)
            zoom(delta > 0 ? 0.8 : 1.25, p->time_at_pixel(int(wheel->position().x())));
        else if (wheel->modifiers() & Qt::ShiftModifier)
            pan(delta > 0 ? -0.1 * view_span : 0.1 * view_span);
        else // the page scrolls, as everywhere else
            QCoreApplication::sendEvent(scroll->verticalScrollBar(), event);
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            drag_x = mouse->pos().x();
        return false;
    }
    case QEvent::MouseButtonRelease:
        drag_x = -1;
        return false;
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (drag_x >= 0 && (mouse->buttons() & Qt::LeftButton)) {
            const int dx = mouse->pos().x() - drag_x;
            drag_x = mouse->pos().x();
            pan(-dx * p->seconds_per_pixel());
        }
        readout_label->setText(p->readout_at_pixel(mouse->pos().x()));
        return false;
    }
    case QEvent::Leave:
        readout_label->clear();
        return false;
    default:
        return false;
    }
}

bool trends_page::save_png(const QString& path)
{
    redraw(true);
    for (channel_plot* p : plots) {
        if (p->isVisible())
            p->chart()->replot(); // at once: the grab below paints what the plots hold
    }
    // Plots just shown may not have their room yet: the image takes all of them.
    plots_box->layout()->activate();
    plots_box->resize(plots_box->width(), std::max(plots_box->height(), plots_box->minimumSizeHint().height()));
    return plots_box->grab().save(path, "PNG");
}

QString trends_page::suggested_png_name(double t)
{
    // In the zone the page shows, named in the file.
    QString zone = QDateTime::fromMSecsSinceEpoch(qint64(t * 1000)).timeZoneAbbreviation();
    zone.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9+-]")), QString());
    return QStringLiteral("trends_%1%2.png")
        .arg(QDateTime::fromMSecsSinceEpoch(qint64(t * 1000)).toString(QStringLiteral("yyyy-MM-dd_HHmmss")),
             zone.isEmpty() ? QString() : QLatin1Char('_') + zone);
}

void trends_page::ask_and_save()
{
    // Not the static dialog: its own event loop would let a close of the window re-enter.
    auto* dialog = new QFileDialog(this, tr("Save trends as PNG"), suggested_png_name(trend_clock::now()),
                                   tr("PNG images (*.png)"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("png"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!save_png(path))
            QMessageBox::warning(this, tr("Save as PNG"), tr("Could not write %1.").arg(path));
    });
    dialog->open();
}

void trends_page::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    redraw();
    redraw_timer.start();
}

void trends_page::hideEvent(QHideEvent* event)
{
    redraw_timer.stop();
    QWidget::hideEvent(event);
}
