// What the window tells those who watch the station beside it (the dashboard): each scan's
// readings as the displays show them, alarms, band reports, the port, polls and commands sent.
#pragma once

#include <QStringList>

namespace app {

class StationFeed {
public:
    virtual ~StationFeed() = default;

    // The eight displays after a scan that read something: forward, reflected, VSWR, the four
    // stage currents and the total.
    virtual void readings(const QStringList& displays) = 0;
    virtual void alarm(const QString& text) = 0;
    virtual void band(bool high) = 0;
    virtual void port(int n, bool open) = 0;
    virtual void polled() = 0;                            // an automatic poll went out
    virtual void commandSent(const QString& command) = 0; // a button's command went out
};

} // namespace app
