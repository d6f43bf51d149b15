#pragma once

#include <QString>

// Number formats and fixed texts of the channel view.
inline QString fixed(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

inline QString with_unit(double v, int decimals, const char* unit)
{
    return fixed(v, decimals) + QString::fromUtf8(unit);
}

namespace view_text {
inline const char* const degrees = " \u00B0C";
inline const char* const red_label = "QLabel { color : red; }";
inline const char* const black_label = "QLabel { color : black; }";
} // namespace view_text
