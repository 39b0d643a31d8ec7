// A recording serial component: it remembers every Output, opens or refuses ports as told,
// and raises receive events with given text.
#pragma once

#include "link/serial_component.h"

#include <QByteArrayList>
#include <QSet>

class FakeSerial : public seriallink::SerialComponent {
public:
    QSet<int> refusedPorts;      // opening these ports fails
    QByteArrayList outputs;      // every accepted Output, one entry per write
    QStringList settingsApplied; // every Settings string
    int closes = 0;              // closes of an open port
    int rthreshold = 0;

    QByteArray written() const { return outputs.join(); }
    // Raises one OnComm with the given event code; with code 2 the text waits in Input.
    void receive(const QByteArray& text, int code = seriallink::comEvReceive) {
        event_ = code;
        if (code == seriallink::comEvReceive)
            waiting_ += text;
        emit OnComm();
    }

    seriallink::Failure setCommPort(int port) override {
        if (open_)
            return QStringLiteral("Port already open");
        port_ = port;
        return {};
    }
    int commPort() const override { return port_; }
    seriallink::Failure setPortOpen(bool open) override {
        if (open && (open_ || refusedPorts.contains(port_)))
            return QStringLiteral("COM%1 could not be opened: No such file or directory")
                .arg(port_);
        closes += open_ && !open;
        open_ = open;
        return {};
    }
    bool portOpen() const override { return open_; }
    seriallink::Failure setSettings(const QString& settings) override {
        settingsApplied << settings;
        return {};
    }
    void setRThreshold(int threshold) override { rthreshold = threshold; }
    seriallink::Failure output(const QByteArray& bytes) override {
        if (!open_)
            return QStringLiteral("Port is closed");
        outputs << bytes;
        return {};
    }
    int commEvent() const override { return event_; }
    QByteArray input() override { return std::exchange(waiting_, {}); }

private:
    int port_ = 1;
    bool open_ = false;
    int event_ = 0;
    QByteArray waiting_;
};
