// frmWattmeter: the program's one window. It owns the widgets, Timer1, MSComm1 and the form
// members, and binds each event to a short handler that hands the work to the room that owns it.
#pragma once

#include "app/message_box.h"
#include "app/polling_options.h"
#include "app/port_selection.h"
#include "link/interval_timer.h"
#include "link/serial_component.h"
#include "telemetry/poll_cycle.h"
#include "window_sink.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <string>
#include <string_view>

class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace ui {

class Lamp;

class frmWattmeter : public QMainWindow {
    Q_OBJECT
public:
    // boxes may be null: the window then shows real message boxes.
    explicit frmWattmeter(std::unique_ptr<seriallink::SerialComponent> comm,
                          std::unique_ptr<app::MessageBox> boxes = nullptr);
    ~frmWattmeter() override;

    // Handlers.
    void Form_Load();
    void Form_Unload();
    void Form_Terminate();
    void Exit_Click();
    void mnuPortsCom_Click(int n); // the sixteen port commands
    void mnuHelpAbout_Click();
    void Timer1_Timer();
    void MSComm1_OnComm();
    void mnuPollDisabled_Click();
    void mnuPoll1_Click();
    void mnuPollCurrent_Click();
    void Read_Click();
    void Current_Click();
    void Status_Click();
    void Reset_Click();
    void txtTerm_KeyPress(int& KeyAscii);

    // The time of day that alarm lines carry.
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // Where the scan's readings, alarms and band reports are journaled; null for none.
    void setJournal(app::Journal* journal) { sink_.setJournal(journal); }
    // Alarms, and the port lost and back, also go to the desktop; a click there brings the
    // window to the front.
    void setNotifier(app::DesktopNotifier* notifier);
    // Those who watch the station beside the window (the dashboard) hear what it shows, the
    // port, the polls and the buttons' commands.
    void setStation(app::StationFeed* station);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    friend class WindowSink;

    // Form members.
    std::string parsestring;      // receive buffer, one byte per character
    telemetry::PollCycle polling; // poll, interval, pollcurrent
    QString port;

    // Widgets, by their design names.
    QLineEdit* txtForward;
    QLineEdit* txtReflected;
    QLineEdit* txtVSWR;
    QLineEdit* txtI1;
    QLineEdit* txtI2;
    QLineEdit* txtI3;
    QLineEdit* txtI4;
    QLineEdit* txtITotal;
    QPlainTextEdit* txtAlarms;
    QPlainTextEdit* txtTerm;
    QProgressBar* prgBar1;
    QProgressBar* prgBar2;
    Lamp* shpHigh;
    Lamp* shpLow;
    QPushButton* Read;
    QPushButton* Current;
    QPushButton* Status;
    QPushButton* Reset;
    QPushButton* Exit;
    seriallink::IntervalTimer* Timer1;
    std::unique_ptr<seriallink::SerialComponent> MSComm1;

    // Menus.
    QMenu* mnuPorts;
    std::array<QAction*, app::kPortCount> mnuPortsCom{};
    QMenu* PollInterval;
    QAction* mnuPollDisabled;
    QAction* mnuPoll1;
    QAction* mnuPollCurrent;
    QMenu* mnuHelp;
    QAction* mnuHelpAbout;

    // The eight reading fields in the order start-up empties them.
    std::array<QLineEdit*, 8> readingFields() const;

    void createWidgets();
    void createMenus();
    void bindEvents();
    app::PortCommandParts portCommandParts();
    app::PollingMenu pollingMenu() const { return {mnuPollDisabled, mnuPoll1, mnuPollCurrent}; }
    bool portSelected() const;         // a port item carries the check mark
    void notifyPort(const char* what); // "COM3 was lost" and such, to the desktop
    void reportPort();                 // the port and whether it is open, to the station
    void sendButtonCommand(std::initializer_list<QLineEdit*> emptyFirst, std::string_view command);

    std::unique_ptr<app::MessageBox> boxes_;
    Clock clock_ = [] { return QTime::currentTime(); };
    WindowSink sink_{*this, *boxes_, clock_};
    app::StationFeed* station_ = nullptr;
    bool inTick_ = false; // a tick waiting on the over-power warning
    bool closed_ = false; // closed through the window: the release saves the position again
    bool ended_ = false;  // ended through Exit: nothing more is saved
};

} // namespace ui
