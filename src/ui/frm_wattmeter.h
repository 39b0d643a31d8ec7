// frmWattmeter: the program's one window, a view of the engine (app::Monitor) that owns the
// line, the tick and the scan. It owns the widgets and binds each event to a short handler that
// hands the work on: the tick and the receive events to the engine, commands to its command
// path. It draws what the engine hands it and follows the station for the rest.
#pragma once

#include "app/message_box.h"
#include "app/monitor.h"
#include "link/ports_folder.h"
#include "window_view.h"

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

namespace ui {

class Lamp;

class frmWattmeter : public QMainWindow {
    Q_OBJECT
public:
    // boxes may be null: the window then shows real message boxes.
    explicit frmWattmeter(app::Monitor& monitor, std::unique_ptr<app::MessageBox> boxes = nullptr);
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
    void setClock(app::Monitor::Clock clock) { monitor_.setClock(std::move(clock)); }
    // Restored if minimised, raised and activated: a click on a desktop notification.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
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

    app::Monitor& monitor_;
    const app::Station& station_;
    std::unique_ptr<app::MessageBox> boxes_;
    std::unique_ptr<WindowView> view_;
    QString lossBox_;     // what the box that says the port was lost says
    bool closed_ = false; // closed through the window: the release saves the position again
    bool ended_ = false;  // ended through Exit: nothing more is saved
};

} // namespace ui
