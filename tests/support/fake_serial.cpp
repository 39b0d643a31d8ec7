#include "fake_serial.h"

void FakeSerial::receive(const QByteArray& text, int code) {
    event_ = code;
    if (code == seriallink::comEvReceive)
        waiting_ += text;
    emit OnComm();
}

seriallink::Failure FakeSerial::setCommPort(int port) {
    if (open_)
        return QStringLiteral("Port already open");
    port_ = port;
    return {};
}

seriallink::Failure FakeSerial::setPortOpen(bool open) {
    if (!open) {
        closes += open_ ? 1 : 0;
        open_ = false;
        return {};
    }
    if (open_)
        return QStringLiteral("Port already open");
    if (refusedPorts.contains(port_))
        return QStringLiteral("COM%1 could not be opened: No such file or directory").arg(port_);
    open_ = true;
    opened << port_;
    return {};
}

seriallink::Failure FakeSerial::setSettings(const QString& settings) {
    settingsApplied << settings;
    return {};
}

seriallink::Failure FakeSerial::output(const QByteArray& bytes) {
    if (!open_)
        return QStringLiteral("Port is closed");
    outputs << bytes;
    return {};
}

QByteArray FakeSerial::input() {
    return std::exchange(waiting_, {});
}
