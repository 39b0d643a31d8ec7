#include "frm_wattmeter.h"

#include "app/about.h"
#include "app/station.h"
#include "app_icon.h"
#include "lamp.h"
#include "log_pane.h"
#include "qt_message_box.h"
#include "terminal_keys.h"
#include "window_position.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace ui {

frmWattmeter::frmWattmeter(app::Monitor& monitor, std::unique_ptr<app::MessageBox> boxes)
    : monitor_(monitor), station_(monitor.station()) {
    setObjectName(QStringLiteral("frmWattmeter"));
    setWindowTitle(QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    setWindowIcon(appIcon());
    boxes_ = boxes ? std::move(boxes) : std::make_unique<QtMessageBox>(this);
    createMenus();
    createWidgets();
    view_ = std::make_unique<WindowView>(
        ScanView{{txtForward, txtReflected, txtVSWR, txtI1, txtI2, txtI3, txtI4, txtITotal},
                 prgBar1,
                 prgBar2,
                 shpHigh,
                 shpLow,
                 txtAlarms,
                 txtTerm},
        *boxes_, monitor_);
    monitor_.attach(*view_, *boxes_);
    bindEvents();
    followStation();
}

frmWattmeter::~frmWattmeter() {
    monitor_.detach();
    if (closed_ && !ended_)
        Form_Terminate();
}

void frmWattmeter::bringToFront() {
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void frmWattmeter::Form_Load() {
    QApplication::setApplicationName(QString::fromLatin1(app::kProgramName));
    restoreWindowPosition(*this);
    for (QLineEdit* field :
         {txtForward, txtReflected, txtVSWR, txtI1, txtI2, txtI3, txtI4, txtITotal})
        field->clear();
    monitor_.loadStoredPort();
}

void frmWattmeter::Form_Unload() {
    saveWindowPosition(*this);
}

void frmWattmeter::Form_Terminate() {
    saveWindowPosition(*this);
}

void frmWattmeter::Exit_Click() {
    monitor_.closePort();
    saveWindowPosition(*this);
    ended_ = true;
    hide();
    QApplication::exit(0);
}

void frmWattmeter::closeEvent(QCloseEvent* event) {
    monitor_.stopReopening();
    Form_Unload();
    closed_ = true;
    event->accept();
}

void frmWattmeter::mnuPortsCom_Click(int n) {
    (void)monitor_.choosePort(n);
}

void frmWattmeter::mnuHelpAbout_Click() {
    boxes_->MsgBox(app::aboutText(), app::vbInformation, app::aboutTitle());
}

void frmWattmeter::Timer1_Timer() {
    monitor_.Timer1_Timer();
}

void frmWattmeter::MSComm1_OnComm() {
    monitor_.MSComm1_OnComm();
}

void frmWattmeter::mnuPollDisabled_Click() {
    monitor_.commands().run(app::Command::PollOff, app::Origin::Button);
}

void frmWattmeter::mnuPoll1_Click() {
    monitor_.commands().run(app::Command::PollOn, app::Origin::Button);
}

void frmWattmeter::mnuPollCurrent_Click() {
    monitor_.commands().run(station_.polling().currents ? app::Command::CurrentsOff
                                                        : app::Command::CurrentsOn,
                            app::Origin::Button);
}

void frmWattmeter::Read_Click() {
    monitor_.commands().run(app::Command::Power, app::Origin::Button);
}

void frmWattmeter::Current_Click() {
    monitor_.commands().run(app::Command::Current, app::Origin::Button);
}

void frmWattmeter::Status_Click() {
    monitor_.commands().run(app::Command::Status, app::Origin::Button);
}

void frmWattmeter::Reset_Click() {
    monitor_.commands().run(app::Command::Reset, app::Origin::Button);
}

void frmWattmeter::txtTerm_KeyPress(int& KeyAscii) {
    // The caret goes to the end of what has been received, not of what the widget shows yet.
    flushPane(*txtTerm);
    // With the port closed the key is left to the pane, which ignores it.
    if (!monitor_.serial().portOpen())
        return;
    (void)monitor_.commands().send(QByteArray(1, static_cast<char>(KeyAscii)), app::Origin::Key);
    txtTerm->moveCursor(QTextCursor::End);
    KeyAscii = 0;
}

void frmWattmeter::followStation() {
    // The menus' marks show the station's polling choice and the port the operator chose.
    connect(
        &station_, &app::Station::pollingChanged, this,
        [this] {
            const app::Station::Polling& choice = station_.polling();
            mnuPollDisabled->setChecked(!choice.on);
            mnuPoll1->setChecked(choice.on);
            mnuPollCurrent->setChecked(choice.currents);
        });
    connect(&station_, &app::Station::portChanged, this, [this] {
        for (int n = 1; n <= seriallink::kPortCount; ++n)
            mnuPortsCom[n - 1]->setChecked(n == station_.port().chosen);
    });
    // A silence begins and ends with a line of the window's own in the alarm pane.
    connect(&station_, &app::Station::amplifierChanged, this, [this](app::Amplifier before) {
        const app::Amplifier now = station_.replies().state;
        if (now == app::Amplifier::Silent)
            view_->note(kNoReply);
        else if (now == app::Amplifier::Answering && before == app::Amplifier::Silent)
            view_->note(kAnswersAgain);
    });
    // A command from any surface empties the fields its reply will fill, as the buttons do.
    connect(&monitor_.commands(), &app::CommandPath::issued, this, [this](app::Command issued) {
        if (issued == app::Command::Power)
            for (QLineEdit* field : {txtForward, txtReflected, txtVSWR})
                field->clear();
        if (issued == app::Command::Current)
            for (QLineEdit* field : {txtI1, txtI2, txtI3, txtI4, txtITotal})
                field->clear();
    });
}

void frmWattmeter::bindEvents() {
    // A checkable action flips its own mark before it reports the click; only the handlers
    // may set marks, so the flip is undone first.
    const auto bindMenu = [this](QAction* item, auto handler) {
        connect(item, &QAction::triggered, this, [item, handler](bool checked) {
            if (item->isCheckable())
                item->setChecked(!checked);
            handler();
        });
    };
    for (int n = 1; n <= seriallink::kPortCount; ++n)
        bindMenu(
            mnuPortsCom[n - 1], [this, n] { mnuPortsCom_Click(n); });
    bindMenu(
        mnuPollDisabled, [this] { mnuPollDisabled_Click(); });
    bindMenu(
        mnuPoll1, [this] { mnuPoll1_Click(); });
    bindMenu(
        mnuPollCurrent, [this] { mnuPollCurrent_Click(); });
    bindMenu(mnuHelpAbout, [this] { mnuHelpAbout_Click(); });

    connect(Read, &QPushButton::clicked, this, &frmWattmeter::Read_Click);
    connect(Current, &QPushButton::clicked, this, &frmWattmeter::Current_Click);
    connect(Status, &QPushButton::clicked, this, &frmWattmeter::Status_Click);
    connect(Reset, &QPushButton::clicked, this, &frmWattmeter::Reset_Click);
    new TerminalKeys(*txtTerm, [this](int& KeyAscii) { txtTerm_KeyPress(KeyAscii); });

    connect(Exit, &QPushButton::clicked, this, &frmWattmeter::Exit_Click);
    // What arrives shows in the terminal pane at once; the engine scans it once the line is
    // quiet.
    connect(&monitor_, &app::Monitor::received, this,
            [this](const std::string& upper) { appendlogCoalesced(*txtTerm, upper); });
    // Told once per loss, after the component has closed the port; a port that is back by then
    // needs no box, and the box closes by itself when its port comes back.
    connect(
        &monitor_.serial(), &seriallink::SerialComponent::deviceLost, this,
        [this](const QString& description) {
            lossBox_ = description;
            if (!monitor_.serial().portOpen())
                boxes_->MsgBox(description, app::vbExclamation);
        },
        Qt::QueuedConnection);
    connect(&monitor_.serial(), &seriallink::SerialComponent::reopened, this,
            [this] { boxes_->close(lossBox_); });
}

} // namespace ui
