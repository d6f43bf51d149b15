#pragma once

// Shared pieces of the end-to-end tests: a private working directory per test
// (settings.ini never leaks between tests), the simulated bus on a
// pseudo-terminal, frame lines as they appear on the wire, and the debug log.

#include "MainWindow.h"
#include "bus_simulator.h"
#include "main_window_form.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPair>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QVector>
#include <QtTest>

#include <memory>
#include <optional>

namespace e2e {

// Runs the test body in a fresh temporary working directory.
class working_dir
{
public:
    working_dir()
        : previous(QDir::currentPath())
    {
        QDir::setCurrent(dir.path());
    }
    ~working_dir() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    QString file(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QString previous;
};

// One frame line as sent to the adapter: "tIII8" + 16 hex digits + CR.
struct wire_frame
{
    int id = 0;
    uint8_t data[8] = {};
    int code() const { return data[0]; }
};

inline std::optional<wire_frame> parse_frame(const QByteArray& line)
{
    if (line.size() != 22 || line[0] != 't' || line[4] != '8' || line[21] != '\r')
        return std::nullopt;
    wire_frame f;
    bool ok = false;
    f.id = line.mid(1, 3).toInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    for (int k = 0; k < 8; ++k) {
        f.data[k] = static_cast<uint8_t>(line.mid(5 + 2 * k, 2).toInt(&ok, 16));
        if (!ok)
            return std::nullopt;
    }
    return f;
}

// Codes of the frames addressed to can_id, in wire order.
inline QVector<int> codes_to(const QList<QByteArray>& lines, int can_id)
{
    QVector<int> codes;
    for (const QByteArray& line : lines) {
        const auto f = parse_frame(line);
        if (f && f->id == can_id)
            codes << f->code();
    }
    return codes;
}

// Splits a code stream into polling passes, each beginning with 0xD0. Codes
// before the first 0xD0 belong to a pass begun before the recording, and the
// last pass may still be incomplete: both are dropped.
inline QVector<QVector<int>> complete_passes(const QVector<int>& codes)
{
    QVector<QVector<int>> passes;
    for (int code : codes) {
        if (code == 0xD0)
            passes.append(QVector<int>());
        if (!passes.isEmpty())
            passes.last() << code;
    }
    if (!passes.isEmpty())
        passes.removeLast();
    return passes;
}

inline QString hex_codes(const QVector<int>& codes)
{
    QStringList out;
    for (int c : codes)
        out << QString::number(c, 16).toUpper();
    return out.join(' ');
}

// A simulated bus with the given boards (type code, CAN ID), readings settled at once.
inline std::unique_ptr<bus_simulator> start_bus(const QString& dir, const QList<QPair<int, int>>& boards,
                                                bool direct = false)
{
    static int count = 0;
    auto sim = std::make_unique<bus_simulator>();
    // A distinct name per simulator: the serial port library locks by name.
    sim->config.link_path =
        QDir(dir).filePath(QStringLiteral("dev/ttyE%1_%2").arg(QCoreApplication::applicationPid()).arg(++count));
    sim->config.direct_mode = direct;
    sim->config.settle_ms = 0;
    for (const auto& b : boards)
        sim->add_board(b.first, b.second);
    if (!sim->start())
        qWarning() << "simulator:" << sim->last_error();
    return sim;
}

// Enables channel slots (0..9) with the given CAN IDs and names on the
// configuration page, as an operator would type them, and applies.
inline void configure_channels(MainWindow& w, const QList<QPair<int, int>>& slot_and_id,
                               const QStringList& names = {})
{
    for (int i = 0; i < slot_and_id.size(); ++i) {
        const QString s = slot_and_id[i].first == 0 ? QString() : QStringLiteral("_%1").arg(slot_and_id[i].first + 1);
        w.findChild<QCheckBox*>("dev_en" + s)->setChecked(true);
        w.findChild<QLineEdit*>("addr" + s)->setText(QString::number(slot_and_id[i].second));
        if (i < names.size())
            w.findChild<QLineEdit*>("edit_name" + s)->setText(names[i]);
    }
    w.form()->pushButton->click();
}

// Picks the port whose item data is port_name in the list; false when absent.
inline bool select_port(MainWindow& w, const QString& port_name)
{
    const int index = w.form()->serial_combo_box->findData(port_name);
    if (index < 0)
        return false;
    w.form()->serial_combo_box->setCurrentIndex(index);
    return true;
}

// Answers the next modal question box with `answer`, whenever it appears.
inline void answer_next_question(QMessageBox::StandardButton answer, QStringList* texts = nullptr)
{
    auto* poll = new QTimer(qApp); // parent-owned, removes itself once it answered
    QObject::connect(poll, &QTimer::timeout, [poll, answer, texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll->stop();
        poll->deleteLater();
        if (texts)
            *texts << box->windowTitle() << box->text();
        box->button(answer)->click();
    });
    poll->start(10);
}

// Debug texts of every thread, collected in the GUI thread. Install from
// initTestCase: the test library sets its own handler before that.
class log_capture
{
public:
    static void install() { previous = qInstallMessageHandler(&log_capture::handle); }
    static QStringList& lines()
    {
        static QStringList all;
        return all;
    }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        QMetaObject::invokeMethod(qApp, [text] { lines().append(text); }, Qt::QueuedConnection);
        if (previous)
            previous(type, context, text);
    }
    static inline QtMessageHandler previous = nullptr;
};

} // namespace e2e
