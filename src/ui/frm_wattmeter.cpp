#include "frm_wattmeter.h"

#include "app/about.h"
#include "app/settings_store.h"
#include "app/window_position.h"
#include "app_icon.h"
#include "qt_message_box.h"
#include "telemetry/protocol.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

namespace ui {

namespace {

QByteArray command(std::string_view text) { return QByteArray(text.data(), qsizetype(text.size())); }

} // namespace

frmWattmeter::frmWattmeter(std::unique_ptr<seriallink::SerialComponent> comm,
                           std::unique_ptr<seriallink::MessageBox> boxes)
    : MSComm1(std::move(comm)), boxes_(std::move(boxes)) {
    if (!boxes_)
        boxes_ = std::make_unique<QtMessageBox>(this);
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

std::array<QLineEdit*, 8> frmWattmeter::readingFields() const {
    return {txtForward, txtReflected, txtVSWR, txtI1, txtI2, txtI3, txtI4, txtITotal};
}

app::PortCommandParts frmWattmeter::portCommandParts() {
    return {*MSComm1, *boxes_, mnuPortsCom, port, *Timer1};
}

void frmWattmeter::Form_Load() {
    QApplication::setApplicationName(QString::fromLatin1(seriallink::kApplicationTitle));
    app::restoreWindowPosition(*this);
    for (QLineEdit* field : readingFields())
        field->clear();
    MSComm1->setRThreshold(1);

    port = app::GetSetting(app::kAppName, app::kSection, QStringLiteral("port"));
    if (port.isEmpty()) {
        boxes_->MsgBox(QStringLiteral("Please select a com port first"), seriallink::vbInformation,
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

void frmWattmeter::Form_Unload() { app::saveWindowPosition(*this); }

void frmWattmeter::Form_Terminate() { app::saveWindowPosition(*this); }

void frmWattmeter::Exit_Click() {
    if (MSComm1->portOpen())
        (void)MSComm1->setPortOpen(false);
    app::saveWindowPosition(*this);
    ended_ = true;
    hide();
    QApplication::exit(0);
}

void frmWattmeter::closeEvent(QCloseEvent* event) {
    Form_Unload();
    closed_ = true;
    event->accept();
}

void frmWattmeter::mnuPortsCom_Click(int n) { app::runPortCommand(portCommandParts(), n); }

void frmWattmeter::mnuHelpAbout_Click() {
    boxes_->MsgBox(app::aboutText(), seriallink::vbInformation, QString::fromLatin1(app::kAboutTitle));
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
        bindMenu(mnuPortsCom[n - 1], [this, n] { mnuPortsCom_Click(n); });
    bindMenu(mnuHelpAbout, [this] { mnuHelpAbout_Click(); });

    connect(Exit, &QPushButton::clicked, this, &frmWattmeter::Exit_Click);
}

} // namespace ui
