// What the service tells systemd (sd_notify(3)): ready once the surfaces listen and the device
// is open or waited for, a status line that follows the station, the watchdog's keep-alive from
// the event loop at half the period systemd asks for, and stopping. Without NOTIFY_SOCKET each
// call does nothing.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace app {
class Station;
}

namespace service {

// "COM1 open, amplifier answering, 812 W", "/dev/ttyUSB0 lost, waiting for it".
QString statusLine(const app::Station& station);

class Systemd : public QObject {
    Q_OBJECT
public:
    explicit Systemd(const app::Station& station, QObject* parent = nullptr);

    void ready();
    void stopping();

private:
    void status();

    const app::Station& station_;
    QString said_;
    QTimer watchdog_;
};

} // namespace service
