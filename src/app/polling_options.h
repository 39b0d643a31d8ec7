// The Polling menu: automatic polling off or on, with or without the currents. The commands
// only set the poll cycle's members and the menu's check marks; the next tick acts on them.
#pragma once

class QAction;

namespace telemetry {
class PollCycle;
}

namespace app {

struct PollingMenu {
    QAction* disabled; // "&Disabled"
    QAction* enabled;  // "&Enabled"
    QAction* current;  // "&Include Current"
};

void choosePollingDisabled(telemetry::PollCycle& polling, const PollingMenu& menu);
void choosePollingEnabled(telemetry::PollCycle& polling, const PollingMenu& menu);
void toggleCurrentPolling(telemetry::PollCycle& polling, const PollingMenu& menu);

} // namespace app
