#include "qt_serial_component.h"

#include "link/com_port.h"

#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace seriallink {

namespace {

// Qt's read buffer grows without limit unless told otherwise; this holds minutes of 300 baud
// even if nobody takes the input.
constexpr qint64 readBufferSize = 64 * 1024;

const QString notOpen = QStringLiteral("Port is not open");

constexpr int kWatchMs = 1000;
constexpr int kLongestWatchMs = 16000;

std::optional<QSerialPort::Parity> parityFrom(QStringView letter) {
    if (letter.size() != 1)
        return std::nullopt;
    switch (letter.front().toUpper().unicode()) {
    case 'N':
        return QSerialPort::NoParity;
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

std::optional<QSerialPort::StopBits> stopBitsFrom(QStringView text) {
    if (text == u"1")
        return QSerialPort::OneStop;
    if (text == u"1.5")
        return QSerialPort::OneAndHalfStop;
    if (text == u"2")
        return QSerialPort::TwoStop;
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(QStringView text) {
    const auto fields = text.split(u',');
    if (fields.size() != 4)
        return std::nullopt;

    LineSettings settings;
    bool ok = false;
    settings.baudRate = fields[0].trimmed().toInt(&ok);
    if (!ok || settings.baudRate <= 0)
        return std::nullopt;

    const auto parity = parityFrom(fields[1].trimmed());
    const int dataBits = fields[2].trimmed().toInt(&ok);
    const auto stopBits = stopBitsFrom(fields[3].trimmed());
    if (!parity || !ok || dataBits < 5 || dataBits > 8 || !stopBits)
        return std::nullopt;

    settings.parity = *parity;
    settings.dataBits = static_cast<QSerialPort::DataBits>(dataBits);
    settings.stopBits = *stopBits;
    return settings;
}

QtSerialComponent::QtSerialComponent(QObject* parent)
    : SerialComponent(parent), port_(new QSerialPort(this)) {
    port_->setReadBufferSize(readBufferSize);
    connect(port_, &QSerialPort::readyRead, this, &QtSerialComponent::onReadyRead);
    connect(port_, &QSerialPort::errorOccurred, this, &QtSerialComponent::onError);
    connect(&watchTimer_, &QTimer::timeout, this, &QtSerialComponent::tryReopen);
}

Result QtSerialComponent::setCommPort(int port) {
    if (port_->isOpen())
        return Result::refused(QStringLiteral("Port already open"));
    if (port < 1 || port > kPortCount)
        return Result::refused(QStringLiteral("Invalid port number"));
    commPort_ = port;
    path_.clear();
    return {};
}

Result QtSerialComponent::setDevicePath(const QString& path) {
    if (port_->isOpen())
        return Result::refused(QStringLiteral("Port already open"));
    commPort_ = 0;
    path_ = path;
    return {};
}

QString QtSerialComponent::portName() const {
    return path_.isEmpty() ? SerialComponent::portName() : path_;
}

QString QtSerialComponent::target() const {
    if (path_.isEmpty())
        return comPortDevice(commPort_);
    // A name under /dev/serial/by-id is a link; the lock file names the device it points to.
    const QString device = QFileInfo(path_).canonicalFilePath();
    return device.isEmpty() ? path_ : device;
}

bool QtSerialComponent::portOpen() const {
    return port_->isOpen() && !lossQueued();
}

Result QtSerialComponent::setPortOpen(bool open) {
    // The program's own choice ends any wait for a lost device.
    stopReopening();
    if (!open) {
        closePort();
        return {};
    }
    if (portOpen())
        return Result::refused(QStringLiteral("Port already open"));
    // A device that went away but whose port is not closed yet: close it now, the operator is
    // already choosing the port again.
    closePort();
    return openDevice();
}

Result QtSerialComponent::openDevice() {
    const QString device = target();
    const auto failure = [&](QSerialPort::SerialPortError error, const QString& reason) {
        return Result::refused(path_.isEmpty()
                                   ? openFailureDescription(commPort_, device, error, reason)
                                   : pathOpenFailureDescription(path_, error, reason));
    };
#ifndef Q_OS_WIN
    // Qt would take the lock file first and may report something less direct than "not there".
    if (!QFileInfo::exists(device))
        return failure(QSerialPort::DeviceNotFoundError, qt_error_string(ENOENT));
#endif
    port_->setPortName(device);
    apply(settings_); // on a closed port this only records the values for open()
    port_->setFlowControl(QSerialPort::NoFlowControl);
    if (!port_->open(QIODevice::ReadWrite)) {
        const Result refused = failure(port_->error(), port_->errorString());
        port_->clearError();
        return refused;
    }
    device_ = device;
    openedViaLink_ = path_.isEmpty() && comPortLinked(commPort_);
    ++generation_;
    return {};
}

Result QtSerialComponent::setSettings(const QString& settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        return Result::refused(QStringLiteral("Invalid settings \"%1\"").arg(settings));
    if (port_->isOpen() && !apply(*parsed)) {
        const QString description = QStringLiteral("%1 refused the settings \"%2\": %3")
                                        .arg(portName(), settings, port_->errorString());
        port_->clearError();
        apply(settings_); // leave the line as it was rather than half changed
        port_->clearError();
        return Result::refused(description);
    }
    settings_ = *parsed;
    return {};
}

bool QtSerialComponent::apply(const LineSettings& settings) {
    // Every setter runs even after one fails, so the port ends up as close as possible.
    bool ok = port_->setBaudRate(settings.baudRate);
    ok = port_->setParity(settings.parity) && ok;
    ok = port_->setDataBits(settings.dataBits) && ok;
    ok = port_->setStopBits(settings.stopBits) && ok;
    return ok;
}

Result QtSerialComponent::output(const QByteArray& bytes) {
    if (!portOpen())
        return Result::refused(notOpen);
    // Queued for the write notifier; waiting here would freeze the window for as long as 300
    // baud takes.
    if (port_->write(bytes) != bytes.size()) {
        const QString description = QStringLiteral("%1: could not write to %2: %3")
                                        .arg(portName(), device_, port_->errorString());
        port_->clearError();
        return Result::refused(description);
    }
    return {};
}

QByteArray QtSerialComponent::input() {
    if (!port_->isOpen())
        return {};
    return port_->readAll();
}

void QtSerialComponent::onReadyRead() {
    if (rthreshold_ <= 0 || port_->bytesAvailable() < rthreshold_)
        return;
    commEvent_ = comEvReceive;
    emit OnComm();
}

bool QtSerialComponent::lossQueued() const {
    return port_->isOpen() && lossQueuedFor_ == generation_;
}

void QtSerialComponent::onError(QSerialPort::SerialPortError error) {
    // Errors of a failing open are read by setPortOpen itself.
    if (error == QSerialPort::NoError || !port_->isOpen() || lossQueued())
        return;

    bool lost = error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
    if (error == QSerialPort::WriteError)
        lost = !QFileInfo::exists(device_);
    // Anything else belongs to the call that caused it, which reads the error and clears it.
    if (!lost)
        return;
    // A hang-up shows up as a ReadError on every event-loop turn until the port is closed.
    // Closing here would delete the socket notifier that is calling us, so close on the next
    // turn; the guard above keeps the repeats from queueing more.
    lossQueuedFor_ = generation_;
    QMetaObject::invokeMethod(
        this, [this, generation = generation_] { finishLoss(generation); }, Qt::QueuedConnection);
}

void QtSerialComponent::finishLoss(quint64 generation) {
    // The program may have closed or reopened the port meanwhile; then there is nothing to report.
    if (generation != generation_ || !port_->isOpen())
        return;
    // Closing a device that is gone raises more errors; lossQueued() keeps onError quiet.
    closePort();
    watchForReturn();
    emit deviceLost(deviceLostDescription(portName(), device_));
}

void QtSerialComponent::watchForReturn() {
    reopenFailed_ = false;
    watchTimer_.start(kWatchMs);
    if (watcher_) // waiting already
        return;
    // The folder the device (or the link to it) comes back in.
    const QString watched = openedViaLink_ ? portsFolder()
                            : !path_.isEmpty()
                                ? QFileInfo(path_).absolutePath()
                                : QFileInfo(device_.isEmpty() ? target() : device_).absolutePath();
    watcher_ = new QFileSystemWatcher({watched}, this);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (!reopenFailed_)
            tryReopen();
    });
}

void QtSerialComponent::tryReopen() {
    if (!watchTimer_.isActive()) // a notice that came after the watch ended
        return;
    // Without its link a COM port falls back to another device; that one is not the lost one.
    if ((openedViaLink_ && !comPortLinked(commPort_)) || !QFileInfo::exists(target())) {
        watchTimer_.setInterval(kWatchMs);
        return;
    }
    const Result opened = openDevice();
    if (opened) {
        stopReopening();
        emit reopened();
        return;
    }
    // There, but not a device we may open (a plain file, someone else's port): keep looking,
    // quietly and less often.
    watchTimer_.setInterval(std::min(watchTimer_.interval() * 2, kLongestWatchMs));
    if (!std::exchange(reopenFailed_, true))
        emit reopenFailed(opened.errorString());
}

void QtSerialComponent::stopReopening() {
    watchTimer_.stop();
    if (watcher_) // may be the one calling
        std::exchange(watcher_, nullptr)->deleteLater();
}

void QtSerialComponent::closePort() {
    if (port_->isOpen())
        port_->close();
    port_->clearError();
}

} // namespace seriallink
