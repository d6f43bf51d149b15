#include "widget_sync.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <cmath>

void set_text_if_changed(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void set_text_if_changed(QAbstractButton* button, const QString& text)
{
    if (button->text() != text)
        button->setText(text);
}

void set_style_if_changed(QWidget* widget, const QString& style)
{
    if (widget->styleSheet() != style)
        widget->setStyleSheet(style);
}

void set_visible_if_changed(QWidget* widget, bool visible)
{
    if (widget->isHidden() == visible)
        widget->setVisible(visible);
}

void set_enabled_if_changed(QWidget* widget, bool enabled)
{
    // The widget's own state, whatever its parents say.
    if (widget->testAttribute(Qt::WA_ForceDisabled) == enabled)
        widget->setEnabled(enabled);
}

void set_checked_if_changed(QAbstractButton* button, bool checked)
{
    if (button->isChecked() != checked)
        button->setChecked(checked);
}

void set_decimals_if_changed(QDoubleSpinBox* spin, int decimals)
{
    if (spin->decimals() != decimals)
        spin->setDecimals(decimals);
}

namespace {

double spin_round(double v, int decimals)
{
    return QString::number(v, 'f', decimals).toDouble();
}

} // namespace

void set_range_if_changed(QDoubleSpinBox* spin, double lo, double hi)
{
    if (!std::isfinite(lo) || !std::isfinite(hi))
        return;
    const int d = spin->decimals();
    if (spin->minimum() != spin_round(lo, d) || spin->maximum() != spin_round(hi, d))
        spin->setRange(lo, hi);
}

double spin_rounded(const QDoubleSpinBox* spin, double v)
{
    return spin_round(v, spin->decimals());
}

int percent_of(double v, double lo, double hi)
{
    const double span = hi - lo;
    if (!std::isfinite(v) || !std::isfinite(lo) || !std::isfinite(span) || !(span > 0.0))
        return 0;
    const double p = 100.0 * (v - lo) / span;
    if (!(p > 0.0))
        return 0;
    if (p >= 100.0)
        return 100;
    return static_cast<int>(p);
}

void set_percent(QProgressBar* bar, double v, double lo, double hi)
{
    const int p = percent_of(v, lo, hi);
    if (bar->value() == p)
        return;
    // A bar paints itself synchronously on a visible change; ten panels of
    // bars doing so one by one cost more than the whole rest of a tick. With
    // updates held, the change is painted in the next paint pass instead,
    // together with every other change of the tick.
    bar->setUpdatesEnabled(false);
    bar->setValue(p);
    bar->setUpdatesEnabled(true);
}
