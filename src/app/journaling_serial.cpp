#include "journaling_serial.h"

#include "journal.h"

namespace app {

JournalingSerial::JournalingSerial(std::unique_ptr<seriallink::SerialComponent> inner,
                                   Journal& journal)
    : inner_(std::move(inner)), journal_(journal) {
    connect(inner_.get(), &SerialComponent::OnComm, this, &SerialComponent::OnComm);
    connect(inner_.get(), &SerialComponent::deviceLost, this, [this](const QString& description) {
        journal_.port(inner_->commPort(), QStringLiteral("lost"), description);
        emit deviceLost(description);
    });
    connect(inner_.get(), &SerialComponent::reopened, this, [this] {
        journal_.port(inner_->commPort(), QStringLiteral("reopened"));
        emit reopened();
    });
    connect(inner_.get(), &SerialComponent::reopenFailed, this, [this](const QString& description) {
        journal_.port(inner_->commPort(), QStringLiteral("not reopened"), description);
        emit reopenFailed(description);
    });
}

seriallink::Failure JournalingSerial::setPortOpen(bool open) {
    const bool wasOpen = inner_->portOpen();
    seriallink::Failure failure = inner_->setPortOpen(open);
    if (open)
        journal_.port(commPort(), failure ? QStringLiteral("failed") : QStringLiteral("opened"),
                      failure.value_or(QString()));
    else if (wasOpen)
        journal_.port(commPort(), QStringLiteral("closed"));
    return failure;
}

seriallink::Failure JournalingSerial::output(const QByteArray& bytes) {
    seriallink::Failure failure = inner_->output(bytes);
    if (!failure)
        journal_.sent(bytes);
    return failure;
}

} // namespace app
