#include "can_id_validator.h"

can_id_validator::can_id_validator(QObject* parent)
    : QIntValidator(0, 255, parent)
{
}

QValidator::State can_id_validator::validate(QString& input, int& pos) const
{
    const State state = QIntValidator::validate(input, pos);
    if (state != Intermediate)
        return state;
    bool is_number = false;
    const int value = input.toInt(&is_number);
    return is_number && value > top() ? Invalid : Intermediate;
}
