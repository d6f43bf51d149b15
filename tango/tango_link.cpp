#include "tango_link.h"

#include "tango_server.h"

#include <chrono>
#include <thread>

struct tango_link::pending
{
    tango_request request;
    tango_reply reply;
    bool taken = false; // the GUI thread runs it
    bool done = false;
};

tango_link::tango_link(tango_requests::hooks h, QObject* parent) : QObject(parent), requests(std::move(h))
{
    soon.setSingleShot(true);
    soon.setInterval(50);
    connect(&soon, &QTimer::timeout, this, &tango_link::publish);
    ticker.setInterval(250);
    connect(&ticker, &QTimer::timeout, this, &tango_link::publish);
}

tango_link::~tango_link()
{
    stop();
}

bool tango_link::start(const tango_config& c, bool read_only, QString& why)
{
    if (server) {
        why = server->running() ? QStringLiteral("TANGO: serves already")
                                : QStringLiteral("TANGO cannot be started twice in one run; restart the program");
        return false;
    }
    config = c;
    requests.read_only = read_only;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        closing = false;
    }
    server = std::make_unique<tango_server>(
        [this](const tango_request& r) { return call(r); },
        [this](bool ok, const std::string& reason) {
            const QString q = QString::fromStdString(reason);
            QMetaObject::invokeMethod(this, [this, ok, q] { on_started(ok, q); }, Qt::QueuedConnection);
        },
        [this] {
            QMetaObject::invokeMethod(this, [this] {
                ticker.stop();
                text = QStringLiteral("TANGO: stopped by a client (Kill); restart the program to serve again");
                emit sig_state_changed(false, text);
            }, Qt::QueuedConnection);
        });
    std::string reason;
    server->publish(requests.snapshot());
    if (!server->start(config, reason)) {
        why = QString::fromStdString(reason);
        text = QStringLiteral("TANGO: ") + why;
        server.reset(); // never started: another try (another instance name) may start it
        return false;
    }
    was_started = true;
    text = QStringLiteral("TANGO: starting");
    return true;
}

void tango_link::on_started(bool ok, const QString& why)
{
    if (ok) {
        const std::string devices = "corvane/" + config.instance + "/ch1..ch10, studio";
        text = QStringLiteral("TANGO: %1%2%3")
                   .arg(QString::fromStdString(devices))
                   .arg(config.port > 0 ? QStringLiteral(", port %1").arg(config.port) : QString())
                   .arg(requests.read_only ? QStringLiteral(", read-only") : QString());
        ticker.start();
        publish();
    } else {
        text = QStringLiteral("TANGO not serving: ") + why;
    }
    emit sig_state_changed(ok, text);
}

void tango_link::stop()
{
    soon.stop();
    ticker.stop();
    if (!server)
        return;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        closing = true;
    }
    server->stop([this] {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    drain();
    if (was_started)
        text = QStringLiteral("TANGO: stopped; restart the program to serve again");
}

bool tango_link::running() const
{
    return server && server->running();
}

void tango_link::sl_reading_arrived()
{
    if (server && ticker.isActive() && !soon.isActive())
        soon.start();
}

void tango_link::publish()
{
    if (server)
        server->publish(requests.snapshot());
}

tango_reply tango_link::call(const tango_request& r)
{
    auto job = std::make_shared<pending>();
    job->request = r;
    {
        std::lock_guard<std::mutex> lock(queue_mutex);
        if (closing)
            return tango_reply::refused("the program is closing");
        queue.push_back(job);
    }
    QMetaObject::invokeMethod(this, [this] { drain(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(queue_mutex);
    if (answered.wait_for(lock, std::chrono::milliseconds(answer_ms), [&job] { return job->done; }))
        return job->reply;
    if (!job->taken) {
        // Never carried out after the client heard that it was not.
        for (auto it = queue.begin(); it != queue.end(); ++it) {
            if (*it == job) {
                queue.erase(it);
                break;
            }
        }
        return tango_reply::refused("the program did not answer within 2 s");
    }
    answered.wait(lock, [&job] { return job->done; });
    return job->reply;
}

void tango_link::drain()
{
    for (;;) {
        std::shared_ptr<pending> job;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            if (queue.empty())
                return;
            job = queue.front();
            queue.pop_front();
            job->taken = true;
        }
        const tango_reply reply = requests.run(job->request);
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            job->reply = reply;
            job->done = true;
        }
        answered.notify_all();
        // A change shows in the devices at once, not at the next tick.
        publish();
    }
}
