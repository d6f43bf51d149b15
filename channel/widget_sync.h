#pragma once

#include <QString>

class QAbstractButton;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QWidget;

// Widget setters that touch a widget only when the state really changes: the
// refresh runs every 500 ms over ten panels, and a style sheet set again
// re-polishes the widget even when it is the same text.
void set_text_if_changed(QLabel* label, const QString& text);
void set_text_if_changed(QAbstractButton* button, const QString& text);
void set_style_if_changed(QWidget* widget, const QString& style);
void set_visible_if_changed(QWidget* widget, bool visible);
void set_enabled_if_changed(QWidget* widget, bool enabled);
void set_checked_if_changed(QAbstractButton* button, bool checked);
void set_decimals_if_changed(QDoubleSpinBox* spin, int decimals);
// Compares with the limits as the spin box would round them.
void set_range_if_changed(QDoubleSpinBox* spin, double lo, double hi);
// v rounded to the spin box's decimals, as setValue rounds it before the
// range holds it.
double spin_rounded(const QDoubleSpinBox* spin, double v);

// Integer part of 100 × (v − lo) / (hi − lo), held within 0..100; 0 when the
// range is empty or reversed or any input is not finite.
int percent_of(double v, double lo, double hi);
// Sets the bar to percent_of and repaints it at once, only on change.
void set_percent(QProgressBar* bar, double v, double lo, double hi);
