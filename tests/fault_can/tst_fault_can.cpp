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
    void init() { serial_log::clear(); }
    void interface_faults_data();
    void interface_faults();
};

void tst_fault_can::interface_faults_data()
{
    QTest::addColumn<QString>("iface");
    QTest::addColumn<bool>("connects");  // reported connected at first
    QTest::addColumn<bool>("stays");     // still connected at the end
    QTest::addColumn<QString>("said");   // a line logged exactly once
    QTest::addColumn<int>("frames");     // the window's frame counter at the end (-1: any)
    QTest::addColumn<int>("settle_ms");  // how long the row watches after the connect

    QTest::newRow("refused at creation") << "refuse" << false << false << "CAN interface ERROR: faultcan refuses refuse" << 0 << 700;
    QTest::newRow("connect never completes") << "hang" << false << false << "CAN interface ERROR: CAN interface did not connect" << 0 << 4000;
    QTest::newRow("bus off") << "busoff" << true << false << "CAN interface ERROR: CAN bus off" << 0 << 3500;
    QTest::newRow("every write fails") << "writefail" << true << true << "CAN write FAILED: faultcan write refused" << 0 << 3000;
    QTest::newRow("lost amid answers") << "lost" << true << false << "CAN interface ERROR: faultcan interface lost" << 3 << 3500;
    QTest::newRow("a frame while nothing is sent") << "chatty" << true << true << "CAN interface is opened SUCCESSFULLY" << 1 << 900;
}

void tst_fault_can::interface_faults()
{
    QFETCH(QString, iface);
    QFETCH(bool, connects);
    QFETCH(bool, stays);
    QFETCH(QString, said);
    QFETCH(int, frames);
    QFETCH(int, settle_ms);

    e2e::working_dir wd;
    MainWindow w(nullptr, {"faultcan:" + iface});
    e2e::configure_channels(w, {{0, 1}});
    Ui::MainWindow* ui = w.form();
    ui->serial_combo_box->setCurrentIndex(ui->serial_combo_box->findData("faultcan:" + iface));
    bool was_connected = false;
    QElapsedTimer since;
    since.start();
    ui->connect_button_2->click();
    while (since.elapsed() < settle_ms) {
        QTest::qWait(10);
        was_connected = was_connected || w.connected;
    }
    QCOMPARE(was_connected, connects);
    QCOMPARE(w.connected, stays);
    QTRY_COMPARE(serial_log::lines.count(said), 1);
    if (frames >= 0)
        QCOMPARE(ui->label->text().toInt(), frames);
    if (!connects) {
        // Auto connection tries again and again: the same device, the same words once.
        ui->connection_mode->click();
        QTest::qWait(iface == "hang" ? 4000 : 1000);
        ui->connection_mode->click();
        QVERIFY(!w.connected);
        QCOMPARE(serial_log::lines.count(said), 1);
        QCOMPARE(serial_log::lines.count("faultcan: created " + iface), 1);
    }
    w.close();
}

QTEST_MAIN(tst_fault_can)
#include "tst_fault_can.moc"
