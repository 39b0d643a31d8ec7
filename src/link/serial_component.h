// The serial port component, shaped like the communications control the window was designed around.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace seriallink {

// What an operation of the component came to. It reads the right way round, as QSerialPort's
// bool does: `if (comm.output(bytes))` means the bytes went out; a refusal carries why.
class [[nodiscard]] Result {
public:
    Result() = default; // done
    static Result refused(QString why) {
        Result result;
        result.done_ = false;
        result.why_ = std::move(why);
        return result;
    }
    explicit operator bool() const { return done_; }
    const QString& errorString() const { return why_; }

private:
    bool done_ = true;
    QString why_;
};

// Values of CommEvent.
enum CommEventCode : int {
    comEvReceive = 2, // received characters are waiting
};

// As with that control, the window chooses a port number, opens and closes it, applies a
// settings string, writes text with Output, and takes received text with Input when the OnComm
// event says characters are waiting. Every byte on the line is one Latin-1 character in both
// directions.
//
// QtSerialComponent is the real implementation; tests use a recording fake.
class SerialComponent : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual Result setCommPort(int port) = 0; // 1 to 16; refused while the port is open
    virtual int commPort() const = 0;
    // How the program names the port: "COM3", or the device path it was opened by.
    virtual QString portName() const { return QStringLiteral("COM%1").arg(commPort()); }
    virtual Result setPortOpen(bool open) = 0; // closing a closed port is accepted
    virtual bool portOpen() const = 0;
    // The device the open port is on, or was last opened on; empty before the first open.
    virtual QString device() const = 0;
    virtual Result setSettings(const QString& settings) = 0; // e.g. "300,N,8,1"
    virtual void setRThreshold(int threshold) = 0;
    virtual Result output(const QByteArray& bytes) = 0; // refused when no port is open
    virtual int commEvent() const = 0;
    virtual QByteArray input() = 0; // everything waiting; taking it removes it
    // After a loss the component reopens the port by itself once its device is back, until the
    // program opens or closes a port, or calls this.
    virtual void stopReopening() {}
    // Waits for the port's device as after a loss, when it could not be opened at once.
    virtual void waitForDevice() {}

signals:
    void OnComm();
    // The open device went away (cable pulled, other end closed). The component has already
    // closed the port; this comes once per loss.
    void deviceLost(const QString& description);
    // The lost device came back and its port is open again, with the same settings.
    void reopened();
    // The lost port's device is there again but would not open; said once per loss.
    void reopenFailed(const QString& description);
};

} // namespace seriallink
