#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

// What an encoder wrote, read back from its 22-byte line. Any fault in the
// line shape (length, framing, overrun past 22 bytes) lands in `error`.
struct sent_frame
{
    QString error;
    QByteArray line;
    uint32_t id = 0;
    std::array<uint8_t, 8> bytes{};

    // "12 00 00 00 00 00 00 FC"
    QString hex() const
    {
        QString text;
        for (uint8_t b : bytes)
            text += QString::asprintf("%02X ", unsigned(b));
        return text.trimmed();
    }
};

using encoder_call = std::function<void(char*, uint32_t*)>;

inline sent_frame capture(const encoder_call& encode)
{
    char buf[40];
    std::memset(buf, '#', sizeof buf);
    uint32_t len = 0;
    encode(buf, &len);

    sent_frame f;
    f.line = QByteArray(buf, 22);
    if (len != 22)
        f.error = QString("length %1").arg(len);
    else if (buf[0] != 't' || buf[4] != '8' || buf[21] != '\r')
        f.error = QString("bad framing: %1").arg(QString::fromLatin1(f.line.toPercentEncoding()));
    else if (buf[22] != '#')
        f.error = QStringLiteral("wrote past 22 bytes");
    for (int k = 1; k < 21 && f.error.isEmpty(); ++k) {
        if (buf[k] >= 'a' && buf[k] <= 'f')
            f.error = QStringLiteral("lower-case hex digit");
    }
    bool ok = true;
    f.id = QByteArray(buf + 1, 3).toUInt(&ok, 16);
    for (int k = 0; k < 8 && ok; ++k)
        f.bytes[size_t(k)] = uint8_t(QByteArray(buf + 5 + 2 * k, 2).toUInt(&ok, 16));
    if (!ok && f.error.isEmpty())
        f.error = QStringLiteral("non-hex digits");
    return f;
}
