// A serial component that writes what passes through it to the journal: every command and
// key that went out, and every port opened, closed, refused or lost.
#pragma once

#include "link/serial_component.h"

#include <memory>

namespace app {

class Journal;

// Apart from writing the journal, everything is the wrapped component's own.
class JournalingSerial : public seriallink::SerialComponent {
    Q_OBJECT
public:
    JournalingSerial(std::unique_ptr<seriallink::SerialComponent> inner, Journal& journal);

    seriallink::Failure setCommPort(int port) override { return inner_->setCommPort(port); }
    int commPort() const override { return inner_->commPort(); }
    seriallink::Failure setPortOpen(bool open) override;
    bool portOpen() const override { return inner_->portOpen(); }
    seriallink::Failure setSettings(const QString& settings) override {
        return inner_->setSettings(settings);
    }
    void setRThreshold(int threshold) override { inner_->setRThreshold(threshold); }
    seriallink::Failure output(const QByteArray& bytes) override;
    int commEvent() const override { return inner_->commEvent(); }
    QByteArray input() override { return inner_->input(); }
    void stopReopening() override { inner_->stopReopening(); }

private:
    std::unique_ptr<seriallink::SerialComponent> inner_;
    Journal& journal_;
};

} // namespace app
