// A serial component whose every port transition is recorded in the station: opened, refused,
// closed, lost, reopened and not reopened; and every arrival of bytes. Writes are the command
// path's to record, with their origin.
#pragma once

#include "link/serial_component.h"

#include <memory>

namespace app {

class Station;

// Apart from recording, everything is the wrapped component's own.
class RecordedSerial : public seriallink::SerialComponent {
    Q_OBJECT
public:
    RecordedSerial(std::unique_ptr<seriallink::SerialComponent> inner, Station& station);

    seriallink::Result setCommPort(int port) override { return inner_->setCommPort(port); }
    int commPort() const override { return inner_->commPort(); }
    QString portName() const override { return inner_->portName(); }
    seriallink::Result setPortOpen(bool open) override;
    bool portOpen() const override { return inner_->portOpen(); }
    QString device() const override { return inner_->device(); }
    seriallink::Result setSettings(const QString& settings) override {
        return inner_->setSettings(settings);
    }
    void setRThreshold(int threshold) override { inner_->setRThreshold(threshold); }
    seriallink::Result output(const QByteArray& bytes) override { return inner_->output(bytes); }
    int commEvent() const override { return inner_->commEvent(); }
    QByteArray input() override { return inner_->input(); }
    void stopReopening() override { inner_->stopReopening(); }
    void waitForDevice() override { inner_->waitForDevice(); }

private:
    std::unique_ptr<seriallink::SerialComponent> inner_;
    Station& station_;
};

} // namespace app
