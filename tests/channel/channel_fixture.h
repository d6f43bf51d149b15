#pragma once

#include "laser_object.h"
#include "panel_template.h"

#include <QtTest>
#include <QtWidgets>
#include <array>
#include <atomic>
#include <memory>
#include <vector>

using replies = std::vector<std::pair<int, int32_t>>;

// A worker's frames with their times, recorded in the emitting thread without
// a lock: one writer fills slots in order and publishes the count.
struct frame_log
{
    explicit frame_log(laser_worker& w)
    {
        clock.start();
        QObject::connect(&w, &laser_worker::thread_serial_write, &w, [this](const QByteArray& line) {
            const int n = count.load();
            if (n < int(lines.size())) {
                lines[size_t(n)] = {clock.elapsed(), line};
                count.store(n + 1);
            }
        }, Qt::DirectConnection);
    }
    int size() const { return count.load(); }
    qint64 at(int i) const { return lines[size_t(i)].first; }
    int byte(int i, int k) const { return lines[size_t(i)].second.mid(5 + 2 * k, 2).toInt(nullptr, 16); }
    QString codes(int from, int to) const
    {
        QStringList out;
        for (int i = from; i < to && i < size(); ++i)
            out << QString::number(byte(i, 0), 16).toUpper();
        return out.join(' ');
    }
    QElapsedTimer clock;
    std::array<std::pair<qint64, QByteArray>, 256> lines;
    std::atomic<int> count{0};
};

// Channel 3's panel from the panel template, CAN ID 5, and the frames it sends.
struct panel
{
    // Enabled and connected, as the window has a channel the operator can use.
    panel() { o->name = "Seed", o->enabled = true, o->link_up = true; }
    laser_object* operator->() { return o.get(); }

    // Replies as a board sends them: code, own CAN ID, 32-bit value in bytes 4..7.
    void feed(const replies& list)
    {
        for (const auto& r : list) {
            const auto v = uint32_t(r.second);
            o->handle_driver_message({0x100, {uint32_t(r.first), 5, 0, 0, v >> 24, v >> 16 & 0xFF, v >> 8 & 0xFF, v & 0xFF}});
        }
    }
    void tick(int n = 1) { while (n-- > 0) o->view_update(); }
    template <typename W = QWidget>
    W* w(const QString& prefix) { return container.findChild<W*>(prefix + "_3"); }

    // Commands since the last call as "code:value" (hex:decimal of bytes 4..7),
    // "*n" when not sent three times, "@id" for a CAN ID other than 5.
    QString sent()
    {
        QStringList out;
        for (int i = 0, n = 1; i < frames.size(); ++i, ++n) {
            const QByteArray line = frames.at(i).at(0).toByteArray();
            if (i + 1 < frames.size() && frames.at(i + 1).at(0).toByteArray() == line)
                continue;
            out << line.mid(5, 2) + ':' + QString::number(int32_t(line.mid(13, 8).toUInt(nullptr, 16)))
                    + (n != 3 ? QString("*%1").arg(n) : "") + (line.mid(1, 3) != "005" ? "@" + line.mid(1, 3) : "");
            n = 0;
        }
        frames.clear();
        return out.join(' ');
    }

    // What the operator sees of a widget: "name" (text, value or "hidden"),
    // or "name.max|min|step|dec|n|chk|on|red|vis|items".
    QString state(const QString& key)
    {
        const QString prop = key.section('.', 1);
        QWidget* x = w(key.section('.', 0, 0));
        auto* spin = qobject_cast<QDoubleSpinBox*>(x);
        auto* combo = qobject_cast<QComboBox*>(x);
        auto* label = qobject_cast<QLabel*>(x);
        auto* button = qobject_cast<QAbstractButton*>(x);
        auto* bar = qobject_cast<QProgressBar*>(x);
        QStringList items;
        for (int i = 0; combo && i < combo->count(); ++i)
            items << combo->itemText(i);
        if (prop.isEmpty())
            return combo ? combo->currentText() : x->isHidden() ? "hidden" : label ? label->text() : button ? button->text()
                   : QString::number(bar ? bar->value() : spin->value());
        return prop == "items" ? items.join(',') : QString::number(
            prop == "max" ? spin->maximum() : prop == "min" ? spin->minimum() : prop == "step" ? spin->singleStep()
            : prop == "dec" ? spin->decimals() : prop == "n" ? combo->count() : prop == "chk" ? button->isChecked()
            : prop == "on" ? x->isEnabled() : prop == "red" ? x->styleSheet().contains("red")
            : prop == "unsent" ? x->property("unsent").toBool() && !x->styleSheet().isEmpty() : !x->isHidden());
    }

    QWidget container;
    std::unique_ptr<laser_object> o = (build_laser_panel(&container, 3), std::make_unique<laser_object>(nullptr, 5, &container));
    QSignalSpy frames{o->worker, &laser_worker::thread_serial_write};
};

// Answers each modal box while `hold` is off (or after a second), noting its text.
struct box_closer : QObject
{
    box_closer()
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && !open.isValid())
                open.start();
            if (box && (!hold || open.elapsed() > 1000)) {
                texts << box->text();
                open.invalidate();
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start(5);
    }
    bool hold = false;
    QStringList texts;
    QElapsedTimer open;
    QTimer timer;
};

// True while a message box is up.
inline bool box_open() { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr; }
