#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a Qt signal in the GUI thread (self-pipe: the
// handler only writes one byte to a socket pair watched by a notifier).
// One instance per process.
class termination_signals : public QObject
{
    Q_OBJECT

public:
    explicit termination_signals(QObject* parent = nullptr);
    ~termination_signals() override;

    bool installed() const { return notifier != nullptr; }
    // Installs the handlers again after a library replaced them (TANGO does).
    static void take_back();

signals:
    void sig_termination_requested(int signal_number);

private:
    void on_readable();

    std::unique_ptr<QSocketNotifier> notifier;
};
