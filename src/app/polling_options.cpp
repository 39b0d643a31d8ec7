#include "polling_options.h"

#include "telemetry/poll_cycle.h"

#include <QAction>

namespace app {

void choosePollingDisabled(telemetry::PollCycle& polling, const PollingMenu& menu) {
    polling.interval = 0;
    menu.disabled->setChecked(true);
    menu.enabled->setChecked(false);
    polling.pollcurrent = 0;
    menu.current->setChecked(false);
}

void choosePollingEnabled(telemetry::PollCycle& polling, const PollingMenu& menu) {
    polling.interval = 1;
    menu.disabled->setChecked(false);
    menu.enabled->setChecked(true);
}

void toggleCurrentPolling(telemetry::PollCycle& polling, const PollingMenu& menu) {
    if (polling.pollcurrent == 0) {
        polling.pollcurrent = 1;
        menu.current->setChecked(true);
    } else if (polling.pollcurrent == 1) {
        polling.pollcurrent = 0;
        menu.current->setChecked(false);
    }
}

} // namespace app
