#pragma once

#include <QIntValidator>

// Integer validator for CAN ID fields (0..255). QIntValidator lets "256".."999"
// through as intermediate input because they have no more digits than 255; such a
// value would then be applied as an ID that no board can have, so it is refused.
class can_id_validator : public QIntValidator
{
    Q_OBJECT

public:
    explicit can_id_validator(QObject* parent = nullptr);

    State validate(QString& input, int& pos) const override;
};
