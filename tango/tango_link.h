#pragma once

#include "tango_requests.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class tango_server;

// Runs the TANGO server for the window: publishes what the channels show
// (when readings arrive, at most every 50 ms, and every 250 ms for ages and
// alarms) and answers the server's requests in the GUI thread. A request
// waits at most 2 s for the GUI thread; it never runs after its client was
// told that it timed out.
class tango_link : public QObject
{
    Q_OBJECT

public:
    explicit tango_link(tango_requests::hooks h, QObject* parent = nullptr);
    ~tango_link() override; // stops the server

    // Starts serving; false (with why) when it cannot even try. Whether it
    // serves comes later with sig_state_changed.
    bool start(const tango_config& config, bool read_only, QString& why);
    // Stops serving; answers the requests in flight meanwhile, without an event loop.
    void stop();
    bool running() const;
    bool started_once() const { return was_started; }
    // "TANGO: corvane/lab1/ch1..ch10, port 10000" or why not.
    QString state_text() const { return text; }
    // A reading arrived: the devices publish it soon.
    void sl_reading_arrived();

    static constexpr int answer_ms = 2000;

signals:
    // The server started, failed or stopped; serving says which.
    void sig_state_changed(bool serving, QString text);

private:
    struct pending;
    tango_reply call(const tango_request& r); // from a TANGO thread
    void drain();                             // GUI thread
    void publish();
    void on_started(bool ok, const QString& why);

    tango_requests requests;
    std::unique_ptr<tango_server> server;
    QTimer soon;   // a reading arrived
    QTimer ticker; // ages, alarms, log
    QString text;
    tango_config config;
    bool was_started = false;

    std::mutex queue_mutex;
    std::condition_variable answered;
    std::deque<std::shared_ptr<pending>> queue;
    bool closing = false;
};
