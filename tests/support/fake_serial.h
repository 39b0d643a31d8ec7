// A recording serial component: it remembers every Output, opens or refuses ports as told,
// and raises receive events with given text.
#pragma once

#include "link/serial_component.h"

#include <QByteArrayList>
#include <QSet>

class FakeSerial : public seriallink::SerialComponent {
    Q_OBJECT
public:
    using seriallink::SerialComponent::SerialComponent;

    // What the tests arrange and inspect.
    QSet<int> refusedPorts;      // opening these ports fails
    QByteArrayList outputs;      // every accepted Output, one entry per write
    QStringList settingsApplied; // every accepted Settings string
    QList<int> opened;           // ports opened, in order
    int closes = 0;              // successful closes of an open port
    int rthreshold = 0;

    QByteArray written() const { return outputs.join(); }
    // Raises one OnComm with the given event code; with code 2 the text waits in Input.
    void receive(const QByteArray& text, int code = seriallink::comEvReceive);

    seriallink::Failure setCommPort(int port) override;
    int commPort() const override { return port_; }
    seriallink::Failure setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    seriallink::Failure setSettings(const QString& settings) override;
    void setRThreshold(int threshold) override { rthreshold = threshold; }
    seriallink::Failure output(const QByteArray& bytes) override;
    int commEvent() const override { return event_; }
    QByteArray input() override;

private:
    int port_ = 1;
    bool open_ = false;
    int event_ = 0;
    QByteArray waiting_;
};
