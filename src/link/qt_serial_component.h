// The serial component on a real serial device, through QSerialPort.
#pragma once

#include "link/serial_component.h"

#include <QFileSystemWatcher>
#include <QSerialPort>
#include <QStringView>
#include <QTimer>

#include <optional>

namespace seriallink {

struct LineSettings {
    qint32 baudRate = 300;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// "baud,parity,data,stop", e.g. "300,N,8,1": parity N, E, O, M or S; 5 to 8 data bits; 1, 1.5
// or 2 stop bits. Nothing for anything else.
std::optional<LineSettings> parseLineSettings(QStringView text);

// COM numbers become device paths through com_port.h; everything is non-blocking and driven by
// the event loop, so the window never waits for the line.
class QtSerialComponent : public SerialComponent {
    Q_OBJECT
public:
    explicit QtSerialComponent(QObject* parent = nullptr);

    Result setCommPort(int port) override;
    int commPort() const override { return commPort_; }
    // Opens the device by its path from now on, with no COM number (0).
    Result setDevicePath(const QString& path);
    QString portName() const override;
    Result setPortOpen(bool open) override;
    bool portOpen() const override;
    // On a closed port the settings are kept for the next open.
    Result setSettings(const QString& settings) override;
    void setRThreshold(int threshold) override { rthreshold_ = threshold; }
    Result output(const QByteArray& bytes) override;
    int commEvent() const override { return commEvent_; }
    QByteArray input() override;

    QString device() const override { return device_; }
    void stopReopening() override;
    void waitForDevice() override { watchForReturn(); }

private:
    Result openDevice();
    QString target() const; // the device to open now
    void watchForReturn();
    void tryReopen();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void finishLoss(quint64 generation);
    void closePort();
    bool lossQueued() const;
    bool apply(const LineSettings& settings);

    QSerialPort* const port_;
    int commPort_ = 1;
    QString path_; // opened by path when not empty
    int rthreshold_ = 0;
    int commEvent_ = 0;
    LineSettings settings_;
    QString device_;
    // Counts successful opens, so that a loss noticed on one open never closes a later one.
    quint64 generation_ = 0;
    quint64 lossQueuedFor_ = 0;
    // After a loss: a look at the COM port's device every second, and at once when the folder of
    // its link or device changes, until it opens again or the program opens or closes a port.
    QTimer watchTimer_;
    QFileSystemWatcher* watcher_ = nullptr;
    bool openedViaLink_ = false; // then a lost device is back only when its link is
    bool reopenFailed_ = false;  // told once per loss; the looks then come less and less often
};

} // namespace seriallink
