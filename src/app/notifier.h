// Notifications of what happens at the station, for an operator who is not looking at the
// window: the amplifier's alarms as they arrive (over-power critical, while its box may still
// wait at the window), the port lost, back and not reopened, and the amplifier silent and answering
// again, the journal failing and written again, the MQTT broker lost and back, and its refusal
// of our messages. How a notification is shown is the subclass's (the desktop's notification
// service).
//
// The same text goes out at most once an interval. Those that come meanwhile are held back and
// counted; when the interval ends with some held back, one notification says so at once, with
// the time of the last of them ("HIGH VSWR (3 more)"), and a new interval begins.
#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>

#include <chrono>

namespace app {

class Station;

class Notifier : public QObject {
    Q_OBJECT
public:
    enum class Urgency : uchar { Normal = 1, Critical = 2 };
    // Where a notification goes: a place of its own, or the journal's, where the news that it is
    // written again takes the place of the failure, so the failure does not linger on screen.
    enum class Slot : uchar { Own, Journal };

    // Without `withBus`, the MQTT broker's troubles are left to the MQTT client's own lines.
    void follow(const Station& station, bool withBus = true);
    void setInterval(std::chrono::milliseconds interval) { interval_ = interval; }

signals:
    void activated(); // the operator clicked one of ours

protected:
    // One notification: the body is "<time> - <text>", with "(N more)" after a hold-back.
    virtual void show(const QString& body, Urgency urgency, Slot slot) = 0;

private:
    void notify(const QString& time, const QString& text, Urgency urgency, Slot slot = Slot::Own);
    void intervalEnded(const QString& text);

    struct Repeats {
        QTimer* interval = nullptr; // running while the text may not go out again
        int heldBack = 0;
        QString lastTime;
        Urgency urgency = Urgency::Normal;
        Slot slot = Slot::Own;
    };
    std::chrono::milliseconds interval_{30000};
    QHash<QString, Repeats> repeats_; // by text: the alarm table's, the port's, a short list
};

} // namespace app
