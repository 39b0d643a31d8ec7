#include "recorded_serial.h"

#include "station.h"

namespace app {

RecordedSerial::RecordedSerial(std::unique_ptr<seriallink::SerialComponent> inner, Station& station)
    : inner_(std::move(inner)), station_(station) {
    const auto record = [this](PortEvent::Kind kind, const QString& detail = {}) {
        station_.recordPort(kind, inner_->commPort(), inner_->portName(), inner_->device(), detail);
    };
    connect(inner_.get(), &SerialComponent::OnComm, this, [this] {
        if (inner_->commEvent() == seriallink::comEvReceive)
            station_.recordReceived();
        emit OnComm();
    });
    connect(inner_.get(), &SerialComponent::deviceLost, this,
            [this, record](const QString& description) {
                record(PortEvent::Lost, description);
                emit deviceLost(description);
            });
    connect(inner_.get(), &SerialComponent::reopened, this, [this, record] {
        record(PortEvent::Reopened);
        emit reopened();
    });
    connect(inner_.get(), &SerialComponent::reopenFailed, this,
            [this, record](const QString& description) {
                record(PortEvent::NotReopened, description);
                emit reopenFailed(description);
            });
}

seriallink::Result RecordedSerial::setPortOpen(bool open) {
    const bool wasOpen = inner_->portOpen();
    seriallink::Result result = inner_->setPortOpen(open);
    if (open || wasOpen)
        station_.recordPort(!open    ? PortEvent::Closed
                            : result ? PortEvent::Opened
                                     : PortEvent::Failed,
                            inner_->commPort(), inner_->portName(), inner_->device(),
                            result.errorString());
    return result;
}

} // namespace app
