// frmWattmeter: the program's one window. It owns the widgets, Timer1, MSComm1 and the form
// members, and binds each event to a short handler that hands the work to the room that owns it:
// commands go through the command path, and what the window shows it records in the station.
#pragma once

#include "app/command_path.h"
#include "app/interval_timer.h"
#include "app/message_box.h"
#include "link/ports_folder.h"
#include "link/serial_component.h"
#include "telemetry/poll_cycle.h"
#include "window_sink.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <string>

class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace app {
class Station;
}

namespace ui {

class Lamp;

class frmWattmeter : public QMainWindow {
    Q_OBJECT
public:
    // boxes may be null: the window then shows real message boxes.
    frmWattmeter(std::unique_ptr<seriallink::SerialComponent> comm, app::Station& station,
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
    void setClock(Clock clock) { sink_->setClock(std::move(clock)); }
    // The way every other surface commands the amplifier: the window's own rules and effects.
    app::CommandPath& commands() { return *commands_; }
    // Restored if minimised, raised and activated: a click on a desktop notification.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
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
    app::IntervalTimer* Timer1;
    std::unique_ptr<seriallink::SerialComponent> MSComm1;

    // Menus.
    QMenu* mnuPorts;
    std::array<QAction*, seriallink::kPortCount> mnuPortsCom{};
    QMenu* PollInterval;
    QAction* mnuPollDisabled;
    QAction* mnuPoll1;
    QAction* mnuPollCurrent;
    QMenu* mnuHelp;
    QAction* mnuHelpAbout;

    void createWidgets();
    void createMenus();
    void bindEvents();
    void followStation();

    app::Station& station_;
    std::unique_ptr<app::MessageBox> boxes_;
    std::unique_ptr<app::CommandPath> commands_;
    std::unique_ptr<WindowSink> sink_;
    QString lossBox_;     // what the box that says the port was lost says
    bool inTick_ = false; // a tick waiting on the over-power warning
    bool closed_ = false; // closed through the window: the release saves the position again
    bool ended_ = false;  // ended through Exit: nothing more is saved
};

} // namespace ui
