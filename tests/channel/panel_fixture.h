#pragma once

#include "laser_object.h"
#include "panel_template.h"

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <memory>
#include <vector>

// One channel panel built from the panel template, outside any main window,
// with a spy on the frames its controls emit.
struct panel_fixture
{
    explicit panel_fixture(int channel = 3, int can_id = 5)
    {
        build_laser_panel(&container, channel);
        object = std::make_unique<laser_object>(nullptr, can_id, &container);
        object->name = QStringLiteral("Seed");
        frames = std::make_unique<QSignalSpy>(object->worker, &laser_worker::thread_serial_write);
    }

    laser_object& operator*() { return *object; }
    laser_object* operator->() { return object.get(); }

    // Stores one reply as the board would send it: code, own CAN ID, value.
    void feed(int code, int32_t value)
    {
        const auto raw = static_cast<uint32_t>(value);
        object->handle_driver_message(serial_message_struct{
            0x100, {uint32_t(code), 5, 0, 0, raw >> 24 & 0xFF, raw >> 16 & 0xFF, raw >> 8 & 0xFF, raw & 0xFF}});
    }

    void feed(std::initializer_list<std::pair<int, int32_t>> replies)
    {
        for (const auto& r : replies)
            feed(r.first, r.second);
    }

    // Reports a driver type and runs the refresh that sets its view up.
    void become(int type)
    {
        feed(0xD0, type);
        object->view_update();
    }

    void tick(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            object->view_update();
    }

    QWidget container;
    std::unique_ptr<laser_object> object;
    std::unique_ptr<QSignalSpy> frames;
};

// One command as it went out: code, the 32-bit value of bytes 4..7, the
// value of bytes 6..7 as a signed 16-bit field, and how many copies.
struct sent_command
{
    int code = 0;
    int32_t value = 0;
    int copies = 0;
    int id = 0;

    int16_t value16() const { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }
    bool operator==(const sent_command& o) const
    {
        return code == o.code && value == o.value && copies == o.copies;
    }
};

inline int line_byte(const QByteArray& line, int k)
{
    return line.mid(5 + 2 * k, 2).toInt(nullptr, 16);
}

// Groups consecutive identical frame lines into commands and clears the spy.
inline std::vector<sent_command> take_commands(QSignalSpy& spy)
{
    std::vector<sent_command> out;
    QByteArray previous;
    for (const QList<QVariant>& args : spy) {
        const QByteArray line = args.at(0).toByteArray();
        if (!out.empty() && line == previous) {
            ++out.back().copies;
            continue;
        }
        sent_command c;
        c.code = line_byte(line, 0);
        c.value = static_cast<int32_t>(static_cast<uint32_t>(line_byte(line, 4)) << 24
                                       | static_cast<uint32_t>(line_byte(line, 5)) << 16
                                       | static_cast<uint32_t>(line_byte(line, 6)) << 8
                                       | static_cast<uint32_t>(line_byte(line, 7)));
        c.copies = 1;
        c.id = line.mid(1, 3).toInt(nullptr, 16);
        out.push_back(c);
        previous = line;
    }
    spy.clear();
    return out;
}

// Each command sent three times.
inline std::vector<sent_command> thrice(std::initializer_list<std::pair<int, int32_t>> list)
{
    std::vector<sent_command> out;
    for (const auto& p : list)
        out.push_back({p.first, p.second, 3, 0});
    return out;
}

inline QString describe(const std::vector<sent_command>& list)
{
    QStringList parts;
    for (const sent_command& c : list)
        parts << QStringLiteral("%1:%2x%3").arg(c.code, 2, 16, QLatin1Char('0')).arg(c.value).arg(c.copies);
    return parts.join(QLatin1Char(' '));
}

// The commands sent since the last check must be exactly `list`, each three times.
#define EXPECT_SENT(spy, ...)                                                                      \
    do {                                                                                           \
        const auto sent_ = take_commands(spy);                                                     \
        QVERIFY2(sent_ == thrice(__VA_ARGS__), qPrintable(describe(sent_)));                       \
    } while (false)

// Texts of labels and buttons, for one comparison per group.
inline QStringList texts(std::initializer_list<const QObject*> widgets)
{
    QStringList out;
    for (const QObject* w : widgets) {
        if (auto* label = qobject_cast<const QLabel*>(w))
            out << label->text();
        else if (auto* button = qobject_cast<const QAbstractButton*>(w))
            out << button->text();
        else
            out << QStringLiteral("<not a label>");
    }
    return out;
}

inline bool all_hidden(std::initializer_list<const QWidget*> widgets)
{
    return std::all_of(widgets.begin(), widgets.end(), [](const QWidget* w) { return w->isHidden(); });
}

inline bool none_hidden(std::initializer_list<const QWidget*> widgets)
{
    return std::none_of(widgets.begin(), widgets.end(), [](const QWidget* w) { return w->isHidden(); });
}

// Answers every modal message box that opens, recording its texts.
class box_answerer : public QObject
{
public:
    struct seen_box
    {
        QString title;
        QString text;
        int buttons = 0;
        bool ok_button = false;
    };

    box_answerer()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            boxes.push_back({box->windowTitle(), box->text(), static_cast<int>(box->buttons().size()),
                             box->button(QMessageBox::Ok) != nullptr});
            box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
        });
        timer.start();
    }

    std::vector<seen_box> boxes;

private:
    QTimer timer;
};
