// Alarms as desktop notifications, through the notification service on the session bus. Every
// call to the service is asynchronous: one that answers slowly or never cannot hold up the window.
#pragma once

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <chrono>
#include <deque>
#include <memory>

namespace app {

class Station;

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    enum class Urgency : uchar { Normal = 1, Critical = 2 };

    // Null, with the reason, when there is no bus or no notification service on it (running,
    // or one the bus would start).
    static std::unique_ptr<DesktopNotifier> start(const QDBusConnection& bus, QString* error);

    // From now on the station's alarm lines, its over-power warning (critical, at once, while
    // its box waits for the operator at the window), and the port lost, back and not reopened.
    void follow(const Station& station);

    // One notification, "<time> - <text>". The same text goes out at most once an interval; the
    // next one after it says how many were held back: "HIGH VSWR (3 more)".
    void notify(const QString& time, const QString& text, Urgency urgency);
    void setInterval(std::chrono::milliseconds interval) { interval_ = interval; }

signals:
    void activated(); // the operator clicked one of ours

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id);

private:
    explicit DesktopNotifier(const QDBusConnection& bus);

    struct Repeats {
        QElapsedTimer sinceShown;
        int heldBack = 0;
    };

    QDBusConnection bus_;
    std::chrono::milliseconds interval_{30000};
    QHash<QString, Repeats> repeats_; // by alarm text: a fixed, short list
    std::deque<uint> shown_;          // ours, newest last, the last few only
    std::deque<uint> clickedEarly_;   // clicked, but not (yet) known as ours
};

} // namespace app
