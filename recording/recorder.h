#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

struct channel_reading;
class QThread;
class recording_writer;

// The window's side of recording: samples the channels on a timer, formats the
// rows and hands them by value to the writer thread; it never touches the disk
// itself. It keeps count of the rows the disk has not taken yet: a recording
// that falls too far behind stops with a message rather than growing without
// bound. The writer thread starts with the first recording and runs until
// shut_down().
class recorder : public QObject
{
    Q_OBJECT

public:
    using reading_source = std::function<std::vector<channel_reading>()>;

    static constexpr int default_interval_ms = 500;
    // Rows sampled this long ago and still not written stop the recording.
    static constexpr qint64 default_max_behind_ms = 10 * 60 * 1000;
    // How long closing waits for the disk.
    static constexpr int close_wait_ms = 2000;

    // `source` gives the readings of the channels to record, once per interval.
    // Ignores SIGXFSZ for the whole process: past a file size limit a write
    // must fail (EFBIG) and stop the recording, not end the program.
    explicit recorder(reading_source source, QObject* parent = nullptr);
    ~recorder() override;

    // Starts a recording into `file`, or into a new file named after the start
    // time in folder() when `file` is empty or names a folder. A running
    // recording ends first.
    void start(const QString& file = QString());
    // Ends the recording; the rows sampled so far are still written.
    void stop();
    // Ends any recording and stops the writer thread after it wrote what it had,
    // waiting close_wait_ms at most. Returns false when the disk did not take
    // everything in time; unwritten() then says what is missing (also logged).
    // The writer then goes on with the rows it holds; a later call returns true
    // once it has finished.
    bool shut_down();
    QString unwritten() const { return unwritten_text; }

    bool active() const { return running; }
    // The file being written, once the writer opened it.
    QString file() const { return file_path; }
    qint64 elapsed_ms() const { return running ? clock.elapsed() - start_ms : 0; }
    // How long ago the oldest row the disk has not taken yet was sampled; 0 when none waits.
    qint64 behind_ms() const;
    // Bytes of the current file known to be on the disk itself.
    qint64 synced_bytes() const { return synced; }

    int interval_ms() const { return sample_timer.interval(); }
    // Takes effect at once, also during a recording.
    void set_interval_ms(int ms) { sample_timer.setInterval(ms); }
    QString folder = QStringLiteral("recordings");
    qint64 max_behind_ms = default_max_behind_ms;

    // Runs `job` on the writer thread after what is queued to it (tests use it
    // to hold the writer as a stalled disk would).
    void run_on_writer(std::function<void()> job);

signals:
    void sig_started(QString file);
    void sig_stopped();
    // The recording ended or never began; the message says why.
    void sig_failed(QString message);
    void sig_synced(qint64 bytes);

    // to the writer thread
    void sig_open(int session, QString folder, QString file, QDateTime start, QByteArray header);
    void sig_rows(int session, qint64 batch, QByteArray rows);
    void sig_close(int session);

private:
    struct batch
    {
        qint64 number;
        qint64 sampled_ms; // on `clock`
        QDateTime utc;
        int rows;
    };
    void start_thread();
    void sample();
    void forget_written();
    void stop_behind();
    QString pending_text() const;
    void sl_opened(int session_number, QString path);
    void sl_writer_failed(int session_number, QString message);
    void sl_synced(int session_number, qint64 bytes);

    reading_source readings;
    QTimer sample_timer;
    QElapsedTimer clock;   // runs from the first recording on, never restarted
    qint64 start_ms = 0;   // on `clock`, when the recording began
    QDateTime start_utc;
    QString file_path;
    int session = 0;
    bool running = false;
    qint64 synced = 0;
    qint64 next_batch = 0;
    std::deque<batch> in_flight; // handed to the writer, maybe not yet written
    std::shared_ptr<std::atomic<qint64>> handled = std::make_shared<std::atomic<qint64>>(-1);
    QString unwritten_text;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<recording_writer> writer;
    // A writer that did not finish within close_wait_ms, still writing.
    std::unique_ptr<QThread> stalled_thread;
    std::unique_ptr<recording_writer> stalled_writer;
};
