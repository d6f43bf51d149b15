// A Qt generic plugin that watches a running corvane-studio from the inside,
// without any hook in the program: load it with
//   QT_PLUGIN_PATH=<dir holding generic/> QT_QPA_GENERIC_PLUGINS=corvane_soak_probe
// and it writes to $CORVANE_PROBE_LOG (default standard error):
//   <epoch ms> log: <message>      every qDebug/qWarning line of the program
//   <epoch ms> probe max_ms=M frames=F rss_kb=R   once a second
//   <epoch ms> probe slow answer_ms=A              each answer later than 100 ms
// M is the longest the GUI thread took, during that second, to run an event
// posted to it from the probe's own thread (a ping waiting for an answer
// counts with its age, so a frozen GUI shows up while it is frozen); F is the
// main window's frame counter label; R the resident set size.

#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QLabel>
#include <QPointer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

std::FILE* probe_log = stderr;
// Answers at least this late are logged one by one, with their time.
constexpr long long slow_answer_ms = 100;
QtMessageHandler previous_handler = nullptr;

long long epoch_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

long long steady_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

long rss_kb()
{
    long pages_total = 0;
    long pages_resident = 0;
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    const int n = std::fscanf(f, "%ld %ld", &pages_total, &pages_resident);
    std::fclose(f);
    return n == 2 ? pages_resident * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

void log_message(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    std::fprintf(probe_log, "%lld log: %s\n", epoch_ms(), text.toLocal8Bit().constData());
    std::fflush(probe_log);
    previous_handler(type, context, text);
}

class soak_probe : public QObject
{
public:
    soak_probe()
    {
        const QByteArray path = qgetenv("CORVANE_PROBE_LOG");
        if (!path.isEmpty()) {
            if (std::FILE* f = std::fopen(path.constData(), "a"))
                probe_log = f;
        }
        previous_handler = qInstallMessageHandler(log_message);
        watcher = std::thread([this] { watch(); });
    }

    ~soak_probe() override
    {
        stopping.store(true);
        watcher.join();
        qInstallMessageHandler(previous_handler);
        std::fprintf(probe_log, "%lld probe stopped\n", epoch_ms());
        std::fflush(probe_log);
    }

private:
    void watch()
    {
        long long window_start = steady_ms();
        long long window_max = 0;
        while (!stopping.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const long long now = steady_ms();
            const long long sent = ping_sent.load();
            if (sent == 0) {
                ping_sent.store(now);
                QMetaObject::invokeMethod(this, [this] { answer(); }, Qt::QueuedConnection);
            } else {
                window_max = std::max(window_max, now - sent);
            }
            const long long answered = last_latency.exchange(-1);
            if (answered >= 0)
                window_max = std::max(window_max, answered);
            if (answered >= slow_answer_ms) {
                std::fprintf(probe_log, "%lld probe slow answer_ms=%lld\n", epoch_ms(), answered);
                std::fflush(probe_log);
            }
            if (now - window_start >= 1000) {
                std::fprintf(probe_log, "%lld probe max_ms=%lld frames=%lld rss_kb=%ld\n", epoch_ms(),
                             window_max, frames.load(), rss_kb());
                std::fflush(probe_log);
                window_start = now;
                window_max = 0;
            }
        }
    }

    // GUI thread.
    void answer()
    {
        if (!frame_label) {
            // Other windows (the parameters window) have a "label" too, and the
            // order of the top-level list changes from run to run.
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (qstrcmp(w->metaObject()->className(), "MainWindow") == 0) {
                    frame_label = w->findChild<QLabel*>(QStringLiteral("label"));
                    break;
                }
            }
        }
        if (frame_label)
            frames.store(frame_label->text().toLongLong());
        const long long sent = ping_sent.load();
        last_latency.store(steady_ms() - sent);
        ping_sent.store(0);
    }

    std::thread watcher;
    std::atomic<bool> stopping{false};
    std::atomic<long long> ping_sent{0};
    std::atomic<long long> last_latency{-1};
    std::atomic<long long> frames{-1};
    QPointer<QLabel> frame_label;
};

} // namespace

class soak_probe_plugin : public QGenericPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "soak_probe.json")

public:
    QObject* create(const QString& key, const QString&) override
    {
        if (key.compare(QLatin1String("corvane_soak_probe"), Qt::CaseInsensitive) != 0)
            return nullptr;
        // Qt deletes what a generic plugin creates when the application ends.
        return new soak_probe;
    }
};

#include "soak_probe.moc"
