#include "scpi_error_queue.h"

#include <QStringList>

namespace {

struct known_error
{
    int code;
    const char* text;
};

const known_error known_errors[] = {
    {-104, "Data type error"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-113, "Undefined header"},
    {-114, "Header suffix out of range"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-223, "Too much data"},
    {-224, "Illegal parameter value"},
    {-230, "Data stale"},
    {-350, "Queue overflow"},
};

QString entry(int code, const QString& detail)
{
    QString message = scpi_error_queue::text(code);
    if (!detail.isEmpty())
        message += QLatin1Char(';') + detail;
    // A quote inside a string is written twice.
    message.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QString::number(code) + QStringLiteral(",\"") + message + QLatin1Char('"');
}

} // namespace

QString scpi_error_queue::text(int code)
{
    for (const known_error& e : known_errors) {
        if (e.code == code)
            return QLatin1String(e.text);
    }
    return QStringLiteral("Error");
}

bool scpi_error_queue::push(int code, const QString& detail)
{
    if (size() < capacity) {
        entries.push_back(entry(code, detail));
        return true;
    }
    entries.back() = entry(-350, QString());
    return false;
}

QString scpi_error_queue::pop_all()
{
    QStringList all;
    while (!entries.empty())
        all << pop();
    return all.isEmpty() ? pop() : all.join(QLatin1Char(','));
}

QString scpi_error_queue::pop()
{
    if (entries.empty())
        return QStringLiteral("0,\"No error\"");
    QString e = entries.front();
    entries.pop_front();
    return e;
}
