#include "frm_wattmeter.h"

#include "app/about.h"
#include "app/port_selection.h"
#include "app/recorded_serial.h"
#include "app/settings_store.h"
#include "app/station.h"
#include "app_icon.h"
#include "lamp.h"
#include "link/receive_path.h"
#include "log_pane.h"
#include "qt_message_box.h"
#include "telemetry/protocol.h"
#include "terminal_keys.h"
#include "window_position.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>

namespace ui {

namespace {

QByteArray command(std::string_view text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

frmWattmeter::frmWattmeter(std::unique_ptr<seriallink::SerialComponent> comm, app::Station& station,
                           std::unique_ptr<app::MessageBox> boxes)
    : station_(station) {
    setObjectName(QStringLiteral("frmWattmeter"));
    setWindowTitle(QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    setWindowIcon(appIcon());
    // Every port transition of the window's component is recorded in the station.
    MSComm1 = std::make_unique<app::RecordedSerial>(std::move(comm), station_);
    boxes_ = boxes ? std::move(boxes) : std::make_unique<QtMessageBox>(this);
    createMenus();
    createWidgets();
    commands_ = std::make_unique<app::CommandPath>(*MSComm1, *boxes_, polling, station_);
    sink_ = std::make_unique<WindowSink>(
        ScanView{{txtForward, txtReflected, txtVSWR, txtI1, txtI2, txtI3, txtI4, txtITotal},
                 prgBar1,
                 prgBar2,
                 shpHigh,
                 shpLow,
                 txtAlarms},
        *boxes_, station_);
    bindEvents();
    followStation();
}

frmWattmeter::~frmWattmeter() {
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
    MSComm1->setRThreshold(1);

    port = app::GetSetting(app::kAppName, app::kSection, QStringLiteral("port"));
    if (port.isEmpty()) {
        boxes_->MsgBox(QStringLiteral("Please select a com port first"), app::vbInformation,
                       QStringLiteral("Port error"));
        return;
    }
    if (const auto n = app::storedPortNumber(port))
        mnuPortsCom_Click(*n);
    Timer1->setInterval(app::kPollPeriodMs);
    polling.interval = 0;
    // With no port open the write fails, and start-up ends silently.
    (void)commands_->send(command(telemetry::kResetCommand), app::Origin::Startup);
}

void frmWattmeter::Form_Unload() {
    saveWindowPosition(*this);
}

void frmWattmeter::Form_Terminate() {
    saveWindowPosition(*this);
}

void frmWattmeter::Exit_Click() {
    MSComm1->stopReopening();
    if (MSComm1->portOpen())
        (void)MSComm1->setPortOpen(false);
    saveWindowPosition(*this);
    ended_ = true;
    hide();
    QApplication::exit(0);
}

void frmWattmeter::closeEvent(QCloseEvent* event) {
    MSComm1->stopReopening();
    Form_Unload();
    closed_ = true;
    event->accept();
}

void frmWattmeter::mnuPortsCom_Click(int n) {
    (void)app::runPortCommand({*MSComm1, *boxes_, port, *Timer1}, n);
}

void frmWattmeter::mnuHelpAbout_Click() {
    boxes_->MsgBox(app::aboutText(), app::vbInformation, app::aboutTitle());
}

void frmWattmeter::Timer1_Timer() {
    // The over-power warning holds a tick open; ticks that fall due meanwhile do nothing.
    if (inTick_)
        return;
    const QScopedValueRollback guard(inTick_, true);
    // The line has gone quiet: the terminal pane shows all of it before the tick adds alarm
    // lines or holds the window on a warning.
    flushPane(*txtTerm);
    // Text that arrives while a warning is open goes into a fresh buffer for the next tick.
    const std::string scanned = std::exchange(parsestring, {});
    telemetry::scan(scanned, *sink_);
    sink_->endOfScan();
    for (const std::string_view due : polling.tick())
        (void)commands_->send(command(due), app::Origin::Poll);
}

void frmWattmeter::MSComm1_OnComm() {
    // Each receive event holds the tick back for a full period: replies are scanned once the
    // line has gone quiet.
    Timer1->setEnabled(false);
    if (const auto upper = seriallink::takeReceived(*MSComm1, parsestring))
        appendlogCoalesced(*txtTerm, *upper);
    Timer1->setEnabled(true);
}

void frmWattmeter::mnuPollDisabled_Click() {
    commands_->run(app::Command::PollOff, app::Origin::Button);
}

void frmWattmeter::mnuPoll1_Click() {
    commands_->run(app::Command::PollOn, app::Origin::Button);
}

void frmWattmeter::mnuPollCurrent_Click() {
    commands_->run(station_.polling().currents ? app::Command::CurrentsOff
                                               : app::Command::CurrentsOn,
                   app::Origin::Button);
}

void frmWattmeter::Read_Click() {
    commands_->run(app::Command::Power, app::Origin::Button);
}

void frmWattmeter::Current_Click() {
    commands_->run(app::Command::Current, app::Origin::Button);
}

void frmWattmeter::Status_Click() {
    commands_->run(app::Command::Status, app::Origin::Button);
}

void frmWattmeter::Reset_Click() {
    commands_->run(app::Command::Reset, app::Origin::Button);
}

void frmWattmeter::txtTerm_KeyPress(int& KeyAscii) {
    // The caret goes to the end of what has been received, not of what the widget shows yet.
    flushPane(*txtTerm);
    // With the port closed the key is left to the pane, which ignores it.
    if (!MSComm1->portOpen())
        return;
    (void)commands_->send(QByteArray(1, static_cast<char>(KeyAscii)), app::Origin::Key);
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
    connect(
        &station_, &app::Station::portChanged, this,
        [this] {
            for (int n = 1; n <= seriallink::kPortCount; ++n)
                mnuPortsCom[n - 1]->setChecked(n == station_.port().chosen);
        });
    connect(&station_, &app::Station::amplifierChanged, this, [this] {
        if (station_.replies().state == app::Amplifier::Silent)
            sink_->noReply();
    });
    // A command from any surface empties the fields its reply will fill, as the buttons do.
    connect(commands_.get(), &app::CommandPath::issued, this, [this](app::Command issued) {
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
    connect(Timer1, &app::IntervalTimer::tick, this, &frmWattmeter::Timer1_Timer);
    connect(MSComm1.get(), &seriallink::SerialComponent::OnComm, this,
            &frmWattmeter::MSComm1_OnComm);
    // Told once per loss, after the component has closed the port; a port that is back by then
    // needs no box, and the box closes by itself when its port comes back.
    connect(
        MSComm1.get(), &seriallink::SerialComponent::deviceLost, this,
        [this](const QString& description) {
            lossBox_ = description;
            if (!MSComm1->portOpen())
                boxes_->MsgBox(description, app::vbExclamation);
        },
        Qt::QueuedConnection);
    connect(MSComm1.get(), &seriallink::SerialComponent::reopened, this,
            [this] { boxes_->close(lossBox_); });
}

} // namespace ui
