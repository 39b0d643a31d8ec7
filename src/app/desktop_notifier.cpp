#include "desktop_notifier.h"

#include "about.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <algorithm>

namespace app {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = kService;
constexpr std::size_t kShownKept = 64; // clicks on older ones no longer raise the window

void remember(std::deque<uint>& ids, uint id) {
    ids.push_back(id);
    if (ids.size() > kShownKept)
        ids.pop_front();
}

} // namespace

std::unique_ptr<DesktopNotifier> DesktopNotifier::start(const QDBusConnection& bus,
                                                        QString* error) {
    if (!bus.isConnected()) {
        *error = QStringLiteral("no session bus (%1)").arg(bus.lastError().message());
        return nullptr;
    }
    // Questions to the bus itself, which always answers at once.
    const QDBusConnectionInterface* names = bus.interface();
    if (!names->isServiceRegistered(kService) &&
        !names->activatableServiceNames().value().contains(kService)) {
        *error = QStringLiteral("no notification service (%1) on the session bus").arg(kService);
        return nullptr;
    }
    return std::unique_ptr<DesktopNotifier>(new DesktopNotifier(bus));
}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus) : bus_(bus) {
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint)));
}

void DesktopNotifier::show(const QString& body, Urgency urgency, Slot slot) {
    const bool journal = slot == Slot::Journal;
    if (journal && journalAsked_) { // its place is not known yet: after the answer
        journalNext_ = {body, urgency};
        return;
    }
    journalAsked_ = journalAsked_ || journal;
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QString name = QString::fromLatin1(kProgramName);
    const QString icon = QStringLiteral("vorlan-wattmeter"); // the icon and the desktop entry
    const QVariantMap hints{{QStringLiteral("urgency"), QVariant::fromValue(uchar(urgency))},
                            {QStringLiteral("desktop-entry"), icon}};
    call << name << (journal ? journalId_ : uint(0)) << icon << name << body
         << QStringList{QStringLiteral("default"), QStringLiteral("Show the window")} << hints
         << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, journal](QDBusPendingCallWatcher* w) {
                const QDBusPendingReply<uint> id = *w;
                w->deleteLater();
                if (id.isValid()) {
                    remember(shown_, id.value());
                    if (journal)
                        journalId_ = id.value();
                    // A click can overtake the answer that told us the notification's number.
                    if (std::erase(clickedEarly_, id.value()))
                        emit activated();
                }
                if (journal) {
                    journalAsked_ = false;
                    if (const auto next = std::exchange(journalNext_, std::nullopt))
                        show(next->first, next->second, Slot::Journal);
                }
            });
}

void DesktopNotifier::actionInvoked(uint id, const QString& action) {
    if (action != QLatin1String("default"))
        return;
    if (std::ranges::find(shown_, id) != shown_.end())
        emit activated();
    else
        remember(clickedEarly_, id); // perhaps ours, its number still on the way
}

void DesktopNotifier::notificationClosed(uint id) {
    std::erase(shown_, id);
}

} // namespace app
