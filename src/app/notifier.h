// Notifications of what happens at the station, for an operator who is not looking at the
// window: its alarm lines, its over-power warning (critical, at once, while the box still waits
// at the window), and the port lost, back and not reopened. The same text goes out at most once
// an interval; the next one after it says how many were held back: "HIGH VSWR (3 more)". How a
// notification is shown is the subclass's (the desktop's notification service).
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <chrono>

namespace app {

class Station;

class Notifier : public QObject {
    Q_OBJECT
public:
    enum class Urgency : uchar { Normal = 1, Critical = 2 };

    void follow(const Station& station);
    void setInterval(std::chrono::milliseconds interval) { interval_ = interval; }

signals:
    void activated(); // the operator clicked one of ours

protected:
    // One notification: the body is "<time> - <text>", with "(N more)" after a hold-back.
    virtual void show(const QString& body, Urgency urgency) = 0;

private:
    void notify(const QString& time, const QString& text, Urgency urgency);

    struct Repeats {
        QElapsedTimer sinceShown;
        int heldBack = 0;
    };
    std::chrono::milliseconds interval_{30000};
    QHash<QString, Repeats> repeats_; // by text: the alarm table's and the port's, a short list
};

} // namespace app
