// Faults of a CAN interface, one row each, through a plugin that has them
// (fault_can_plugin.cpp): what the window shows and says.
#include "serial_fixture.h"
#include "sim_fixture.h"

#include <QComboBox>
#include <QLabel>

class tst_fault_can : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::addLibraryPath(FAULT_CAN_PLUGIN_DIR);
        serial_log::install();
    }
    void interface_faults();
};

void tst_fault_can::interface_faults()
{
    // connects: reported connected at first; stays: still connected at the end; said: a line
    // logged exactly once; frames: the window's frame counter at the end; settle: ms watched.
    const struct { const char* iface; bool connects, stays; const char* said; int frames, settle; } rows[] = {
        {"refuse", false, false, "CAN interface ERROR: faultcan refuses refuse", 0, 700},
        {"hang", false, false, "CAN interface ERROR: CAN interface did not connect", 0, 4000},
        {"busoff", true, false, "CAN interface ERROR: CAN bus off", 0, 3500},
        {"writefail", true, true, "CAN write FAILED: faultcan write refused", 0, 3000},
        {"lost", true, false, "CAN interface ERROR: faultcan interface lost", 3, 3500}, // amid answers
        {"chatty", true, true, "CAN interface is opened SUCCESSFULLY", 1, 900},         // a frame while nothing is sent
    };
    for (const auto& r : rows) {
        serial_log::clear();
        const QString iface = r.iface, said = r.said;
        e2e::working_dir wd;
        MainWindow w(nullptr, {"faultcan:" + iface});
        e2e::configure_channels(w, {{0, 1}});
        Ui::MainWindow* ui = w.form();
        ui->serial_combo_box->setCurrentIndex(ui->serial_combo_box->findData("faultcan:" + iface));
        bool was_connected = false;
        QElapsedTimer since;
        since.start();
        ui->connect_button_2->click();
        while (since.elapsed() < r.settle) {
            QTest::qWait(10);
            was_connected = was_connected || w.connected;
        }
        QVERIFY2(was_connected == r.connects && w.connected == r.stays, r.iface);
        QTRY_VERIFY2(serial_log::lines.count(said) == 1, r.iface);
        QVERIFY2(ui->label->text().toInt() == r.frames, qPrintable(QString(r.iface) + " " + ui->label->text()));
        if (!r.connects) {
            // Auto connection tries again and again: the same device, the same words once.
            ui->connection_mode->click();
            QTest::qWait(iface == "hang" ? 4000 : 1000);
            ui->connection_mode->click();
            QVERIFY2(!w.connected && serial_log::lines.count(said) == 1, r.iface);
            QCOMPARE(serial_log::lines.count("faultcan: created " + iface), 1);
        }
        w.close();
    }
}

QTEST_MAIN(tst_fault_can)
#include "tst_fault_can.moc"
