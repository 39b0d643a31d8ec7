#include "frm_wattmeter.h"

#include "app/about.h"
#include "app/settings_store.h"
#include "app/window_position.h"
#include "app_icon.h"
#include "link/receive_path.h"
#include "log_pane.h"
#include "qt_message_box.h"
#include "telemetry/protocol.h"
#include "terminal_keys.h"

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

frmWattmeter::frmWattmeter(std::unique_ptr<seriallink::SerialComponent> comm,
                           std::unique_ptr<app::MessageBox> boxes)
    : MSComm1(std::move(comm)),
      boxes_(boxes ? std::move(boxes) : std::make_unique<QtMessageBox>(this)) {
    setObjectName(QStringLiteral("frmWattmeter"));
    setWindowTitle(QStringLiteral("Vorlan Amp Wattmeter by Q7ZX"));
    setWindowIcon(appIcon());
    createMenus();
    createWidgets();
    bindEvents();
}

frmWattmeter::~frmWattmeter() {
    if (closed_ && !ended_)
        Form_Terminate();
}

void frmWattmeter::setNotifier(app::DesktopNotifier* notifier) {
    sink_.setNotifier(notifier);
    connect(notifier, &app::DesktopNotifier::activated, this, [this] {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        show();
        raise();
        activateWindow();
    });
}

void frmWattmeter::setStation(app::StationFeed* station) {
    station_ = station;
    sink_.setStation(station);
    reportPort();
}

void frmWattmeter::reportPort() {
    if (station_)
        station_->port(MSComm1->commPort(), MSComm1->portOpen());
}

void frmWattmeter::notifyPort(const char* what) {
    sink_.notify(QStringLiteral("COM%1 %2").arg(MSComm1->commPort()).arg(QLatin1String(what)));
}

std::array<QLineEdit*, 8> frmWattmeter::readingFields() const {
    return {txtForward, txtReflected, txtVSWR, txtI1, txtI2, txtI3, txtI4, txtITotal};
}

app::PortCommandParts frmWattmeter::portCommandParts() {
    return {*MSComm1, *boxes_, mnuPortsCom, port, *Timer1};
}

void frmWattmeter::Form_Load() {
    QApplication::setApplicationName(QString::fromLatin1(app::kApplicationTitle));
    app::restoreWindowPosition(*this);
    for (QLineEdit* field : readingFields())
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
    (void)MSComm1->output(command(telemetry::kResetCommand));
}

void frmWattmeter::Form_Unload() {
    app::saveWindowPosition(*this);
}

void frmWattmeter::Form_Terminate() {
    app::saveWindowPosition(*this);
}

void frmWattmeter::Exit_Click() {
    MSComm1->stopReopening();
    if (MSComm1->portOpen())
        (void)MSComm1->setPortOpen(false);
    app::saveWindowPosition(*this);
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
    app::runPortCommand(portCommandParts(), n);
    reportPort();
}

void frmWattmeter::mnuHelpAbout_Click() {
    boxes_->MsgBox(app::aboutText(), app::vbInformation, QString::fromLatin1(app::kAboutTitle));
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
    telemetry::scan(scanned, sink_);
    sink_.endOfScan();
    bool polled = false;
    for (const std::string_view due : polling.tick())
        polled = !MSComm1->output(command(due)) || polled;
    if (polled && station_)
        station_->polled();
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
    app::choosePollingDisabled(polling, pollingMenu());
}

void frmWattmeter::mnuPoll1_Click() {
    app::choosePollingEnabled(polling, pollingMenu());
}

void frmWattmeter::mnuPollCurrent_Click() {
    app::toggleCurrentPolling(polling, pollingMenu());
}

bool frmWattmeter::portSelected() const {
    return std::any_of(
        mnuPortsCom.begin(), mnuPortsCom.end(),
        [](const QAction* item) { return item->isChecked(); });
}

void frmWattmeter::sendButtonCommand(std::initializer_list<QLineEdit*> emptyFirst,
                                     std::string_view text) {
    // The fields the reply will fill are emptied first. A write that fails (the marked port did
    // not open) is ignored: the operator sees no reply and can choose the port again.
    for (QLineEdit* field : emptyFirst)
        field->clear();
    if (!portSelected()) {
        boxes_->MsgBox(QStringLiteral("Please select a Com Port first."), app::vbCritical,
                       QString::fromLatin1(app::kApplicationTitle));
        return;
    }
    if (!MSComm1->output(command(text)) && station_)
        station_->commandSent(QString::fromLatin1(command(text.substr(0, text.size() - 1))));
}

void frmWattmeter::Read_Click() {
    sendButtonCommand({txtForward, txtReflected, txtVSWR}, telemetry::kPowerCommand);
}

void frmWattmeter::Current_Click() {
    sendButtonCommand({txtI1, txtI2, txtI3, txtI4, txtITotal}, telemetry::kCurrentCommand);
}

void frmWattmeter::Status_Click() {
    sendButtonCommand({}, telemetry::kStatusCommand);
}

void frmWattmeter::Reset_Click() {
    // Reset needs no chosen port: with none open the write fails quietly.
    if (!MSComm1->output(command(telemetry::kResetCommand)) && station_)
        station_->commandSent(QStringLiteral("RESET"));
}

void frmWattmeter::txtTerm_KeyPress(int& KeyAscii) {
    // The caret goes to the end of what has been received, not of what the widget shows yet.
    flushPane(*txtTerm);
    // With the port closed the key is left to the pane, which ignores it.
    if (!MSComm1->portOpen())
        return;
    (void)MSComm1->output(QByteArray(1, static_cast<char>(KeyAscii)));
    txtTerm->moveCursor(QTextCursor::End);
    KeyAscii = 0;
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
    for (int n = 1; n <= app::kPortCount; ++n)
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
    connect(Timer1, &seriallink::IntervalTimer::tick, this, &frmWattmeter::Timer1_Timer);
    connect(MSComm1.get(), &seriallink::SerialComponent::OnComm, this,
            &frmWattmeter::MSComm1_OnComm);
    // Told once per loss, after the component has closed the port.
    connect(
        MSComm1.get(), &seriallink::SerialComponent::deviceLost, this,
        [this](const QString& description) {
            notifyPort("was lost");
            reportPort();
            boxes_->MsgBox(description, app::vbExclamation);
        },
        Qt::QueuedConnection);
    connect(
        MSComm1.get(), &seriallink::SerialComponent::reopened, this,
        [this] { notifyPort("is back"); });
    connect(MSComm1.get(), &seriallink::SerialComponent::reopenFailed, this,
            [this] { notifyPort("cannot be reopened"); });
}

} // namespace ui
