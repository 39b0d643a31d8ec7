// Notifications on the desktop, through the notification service on the session bus. Every
// call to the service is asynchronous: one that answers slowly or never cannot hold up the window.
#pragma once

#include "notifier.h"

#include <QDBusConnection>

#include <deque>
#include <memory>
#include <optional>

namespace app {

class DesktopNotifier : public Notifier {
    Q_OBJECT
public:
    // Null, with the reason, when there is no bus or no notification service on it (running,
    // or one the bus would start).
    static std::unique_ptr<DesktopNotifier> start(const QDBusConnection& bus, QString* error);

protected:
    void show(const QString& body, Urgency urgency, Slot slot) override;

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id);

private:
    explicit DesktopNotifier(const QDBusConnection& bus);

    QDBusConnection bus_;
    std::deque<uint> shown_;        // ours, newest last, the last few only
    std::deque<uint> clickedEarly_; // clicked, but not (yet) known as ours
    uint journalId_ = 0;            // the last one in the journal's place
    bool journalAsked_ = false;     // one in the journal's place is on its way
    std::optional<std::pair<QString, Urgency>> journalNext_; // to follow it there
};

} // namespace app
