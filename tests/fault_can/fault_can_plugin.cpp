// A CAN bus plugin for the tests only ("faultcan:NAME"), loaded through the
// plugin path of the test: each interface name is one fault of a real
// interface. Every device made is logged ("faultcan: created NAME").
//   refuse     carries an error from its creation on
//   hang       starts connecting and never gets there
//   busoff     connects; its first frame written brings a bus-off error frame
//   writefail  connects; every write fails
//   lost       connects, answers each frame; the third answer is its last,
//              the interface is gone 2 ms after it
//   chatty     connects; a frame arrives 300 ms later, unasked
#include <QCanBusDevice>
#include <QCanBusFactoryV2>
#include <QDebug>
#include <QObject>
#include <QTimer>

namespace {

class fault_device : public QCanBusDevice
{
public:
    explicit fault_device(const QString& name) : kind(name)
    {
        if (kind == QLatin1String("refuse"))
            setError(QStringLiteral("faultcan refuses %1").arg(kind), QCanBusDevice::ConnectionError);
    }

    bool writeFrame(const QCanBusFrame& frame) override
    {
        if (state() != QCanBusDevice::ConnectedState)
            return false;
        if (kind == QLatin1String("writefail")) {
            setError(QStringLiteral("faultcan write refused"), QCanBusDevice::WriteError);
            return false;
        }
        emit framesWritten(1);
        if (kind == QLatin1String("busoff") && !bus_off_sent) {
            bus_off_sent = true;
            QCanBusFrame off(QCanBusFrame::ErrorFrame);
            off.setError(QCanBusFrame::BusOffError);
            enqueueReceivedFrames({off});
        } else if (kind == QLatin1String("lost")) {
            // A CW board's type report from the addressed ID, 2 ms later as on
            // a bus; 2 ms after the third the interface is gone.
            const quint32 id = frame.frameId();
            QTimer::singleShot(2, this, [this, id] {
                const char reply[8] = {char(0xD0), char(id), 0, 0, 0, 0, 0, 8};
                enqueueReceivedFrames({QCanBusFrame(id, QByteArray(reply, 8))});
                if (++answers == 3)
                    QTimer::singleShot(2, this, [this] {
                        qDebug() << "faultcan: lost after" << answers << "answers";
                        setError(QStringLiteral("faultcan interface lost"), QCanBusDevice::ConnectionError);
                        setState(QCanBusDevice::UnconnectedState);
                    });
            });
        }
        return true;
    }

    QString interpretErrorFrame(const QCanBusFrame&) override { return QString(); }

protected:
    bool open() override
    {
        if (kind == QLatin1String("hang"))
            return true; // stays in ConnectingState
        setState(QCanBusDevice::ConnectedState);
        if (kind == QLatin1String("chatty"))
            QTimer::singleShot(300, this, [this] {
                const char reply[8] = {char(0xD0), 1, 0, 0, 0, 0, 0, 8};
                enqueueReceivedFrames({QCanBusFrame(1, QByteArray(reply, 8))});
            });
        return true;
    }

    void close() override { setState(QCanBusDevice::UnconnectedState); }

private:
    const QString kind;
    bool bus_off_sent = false;
    int answers = 0;
};

} // namespace

class fault_can_plugin : public QObject, public QCanBusFactoryV2
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QCanBusFactory" FILE "fault_can.json")
    Q_INTERFACES(QCanBusFactoryV2)

public:
    QList<QCanBusDeviceInfo> availableDevices(QString*) const override { return {}; }
    QCanBusDevice* createDevice(const QString& name, QString*) const override
    {
        qDebug().noquote() << "faultcan: created" << name;
        return new fault_device(name);
    }
};

#include "fault_can_plugin.moc"
