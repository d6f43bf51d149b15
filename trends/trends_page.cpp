#include "trends_page.h"

#include "channel_plot.h"
#include "channel_reading.h"
#include "trend_store.h"

#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>

namespace {

const double spans_s[] = {60.0, 600.0, 3600.0, 86400.0};

} // namespace

trends_page::trends_page(const trend_store& store, reading_source source, QWidget* parent)
    : QWidget(parent)
    , history(store)
    , readings(std::move(source))
    , span_combo(new QComboBox(this))
    , save_button(new QPushButton(tr("Save as PNG"), this))
    , empty_label(new QLabel(tr("No channel is enabled: enable channels in the system configuration on the Settings page."), this))
{
    setObjectName(QStringLiteral("trends_page"));
    span_combo->setObjectName(QStringLiteral("trend_span_combo"));
    save_button->setObjectName(QStringLiteral("trend_save_button"));
    span_combo->addItems({tr("1 min"), tr("10 min"), tr("1 h"), tr("24 h")});
    span_combo->setCurrentIndex(1);
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Time span:"), this));
    controls->addWidget(span_combo);
    controls->addStretch(1);
    controls->addWidget(save_button);

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    plots_box = new QWidget;
    auto* column = new QVBoxLayout(plots_box);
    column->addWidget(empty_label);
    for (auto& p : plots) {
        p = new channel_plot(plots_box);
        p->hide();
        column->addWidget(p);
    }
    column->addStretch(1);
    scroll->setWidget(plots_box);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(controls);
    layout->addWidget(scroll, 1);

    connect(span_combo, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { redraw(); });
    connect(save_button, &QPushButton::clicked, this, &trends_page::ask_and_save);
    redraw_timer.setInterval(redraw_ms);
    connect(&redraw_timer, &QTimer::timeout, this, [this] {
        // A pixel of the long spans is seconds wide: redrawn less often.
        if (!since_redraw.isValid() || since_redraw.elapsed() >= std::min(10000.0, span_s() / 1.8))
            redraw();
    });
}

void trends_page::set_span(int index)
{
    span_combo->setCurrentIndex(index);
}

double trends_page::span_s() const
{
    return spans_s[std::max(0, span_combo->currentIndex())];
}

void trends_page::redraw(bool all)
{
    ++redraw_count;
    since_redraw.start();
    const double to = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const double from = to - span_s();
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

void trends_page::ask_and_save()
{
    const QString suggested = QStringLiteral("trends_%1.png")
                                  .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd_HHmmss")));
    const QString path = QFileDialog::getSaveFileName(this, tr("Save trends as PNG"), suggested, tr("PNG images (*.png)"));
    if (path.isEmpty())
        return;
    if (!save_png(path))
        QMessageBox::warning(this, tr("Save as PNG"), tr("Could not write %1.").arg(path));
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
