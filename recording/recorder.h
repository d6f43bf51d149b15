#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

struct channel_reading;
class QThread;
class recording_writer;

// The window's side of recording: samples the channels on a timer, formats the
// rows and hands them by value to the writer thread; it never touches the disk
// itself. The writer thread starts with the first recording and runs until
// shut_down().
class recorder : public QObject
{
    Q_OBJECT

public:
    using reading_source = std::function<std::vector<channel_reading>()>;

    static constexpr int default_interval_ms = 500;

    // `source` gives the readings of the channels to record, once per interval.
    explicit recorder(reading_source source, QObject* parent = nullptr);
    ~recorder() override;

    // Starts a recording into `file`, or into a new file named after the start
    // time in folder() when `file` is empty. A running recording ends first.
    void start(const QString& file = QString());
    // Ends the recording; the rows sampled so far are still written.
    void stop();
    // Ends any recording and stops the writer thread after it wrote what it had.
    void shut_down();

    bool active() const { return running; }
    // The file being written, once the writer opened it.
    QString file() const { return file_path; }
    qint64 elapsed_ms() const { return running ? clock.elapsed() : 0; }

    int interval_ms() const { return sample_timer.interval(); }
    // Takes effect at once, also during a recording.
    void set_interval_ms(int ms) { sample_timer.setInterval(ms); }
    QString folder = QStringLiteral("recordings");

signals:
    void sig_started(QString file);
    void sig_stopped();
    // The recording ended or never began; the message says why.
    void sig_failed(QString message);

    // to the writer thread
    void sig_open(int session, QString folder, QString file, QDateTime start, QByteArray header);
    void sig_rows(int session, QByteArray rows);
    void sig_close(int session);

private:
    void start_thread();
    void sample();
    void sl_opened(int session_number, QString path);
    void sl_writer_failed(int session_number, QString message);

    reading_source readings;
    QTimer sample_timer;
    QElapsedTimer clock;
    QDateTime start_utc;
    QString file_path;
    int session = 0;
    bool running = false;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<recording_writer> writer;
};
