#include "monitor.h"

#include "interval_timer.h"
#include "link/receive_path.h"
#include "port_selection.h"
#include "recorded_serial.h"
#include "settings_store.h"
#include "telemetry/number.h"
#include "telemetry/protocol.h"

#include <QScopedValueRollback>

namespace app {

namespace {

QString fromLatin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray command(std::string_view text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}

} // namespace

Monitor::Monitor(std::unique_ptr<seriallink::SerialComponent> comm, Station& station,
                 QObject* parent)
    : QObject(parent), station_(station),
      // Every port transition and every arrival is recorded in the station.
      MSComm1(new RecordedSerial(std::move(comm), station)), Timer1(new IntervalTimer(this)) {
    MSComm1->setParent(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
    Timer1->setObjectName(QStringLiteral("Timer1"));
    commands_ = std::make_unique<CommandPath>(*MSComm1, boxes_, polling, station_,
                                              [this] { dismissWarning(); });
    connect(Timer1, &IntervalTimer::tick, this, &Monitor::Timer1_Timer);
    connect(MSComm1, &seriallink::SerialComponent::OnComm, this, &Monitor::MSComm1_OnComm);
}

Monitor::~Monitor() = default;

void Monitor::attach(MonitorView& view, MessageBox& boxes) {
    attach(&view, &boxes);
}

void Monitor::attach(MonitorView* view, MessageBox* boxes) {
    view_ = view;
    boxes_.view = boxes;
}

QString Monitor::timeOfDay() const {
    return clock_().toString(QStringLiteral("HH:mm:ss"));
}

void Monitor::loadStoredPort() {
    MSComm1->setRThreshold(1);
    port = GetSetting(kAppName, kSection, QStringLiteral("port"));
    if (port.isEmpty()) {
        boxes_.MsgBox(QStringLiteral("Please select a com port first"), vbInformation,
                      QStringLiteral("Port error"));
        return;
    }
    if (const auto n = storedPortNumber(port))
        (void)choosePort(*n);
    Timer1->setInterval(kPollPeriodMs);
    polling.interval = 0;
    // With no port open the write fails, and start-up ends silently.
    (void)commands_->send(command(telemetry::kResetCommand), Origin::Startup);
}

seriallink::Result Monitor::choosePort(int n) {
    return runPortCommand({*MSComm1, boxes_, port, *Timer1}, n);
}

seriallink::Result Monitor::openLine() {
    MSComm1->setRThreshold(1);
    // Kept by a closed port for its open, and for a device that is waited for.
    (void)MSComm1->setSettings(QString::fromLatin1(kLineSettings));
    seriallink::Result opened = MSComm1->setPortOpen(true);
    Timer1->setInterval(kPollPeriodMs);
    return opened;
}

void Monitor::stopReopening() {
    MSComm1->stopReopening();
}

void Monitor::closePort() {
    MSComm1->stopReopening();
    if (MSComm1->portOpen())
        (void)MSComm1->setPortOpen(false);
}

void Monitor::MSComm1_OnComm() {
    // Each receive event holds the tick back for a full period: replies are scanned once the
    // line has gone quiet.
    Timer1->setEnabled(false);
    if (const auto upper = seriallink::takeReceived(*MSComm1, parsestring))
        emit received(*upper);
    Timer1->setEnabled(true);
}

void Monitor::Timer1_Timer() {
    // Text that arrives while the view waits goes into a fresh buffer for the next scan.
    const std::string scanned = std::exchange(parsestring, {});
    telemetry::scan(scanned, *this);
    recordReadings();
    // Behind the view's box the station has heard it all; the view shows it after OK, and the
    // tick that waits there counts and polls then.
    if (showing_)
        return;
    if (view_) {
        const QScopedValueRollback guard(showing_, true);
        view_->show(found_);
    }
    found_.clear();
    for (const std::string_view due : polling.tick())
        (void)commands_->send(command(due), Origin::Poll);
}

void Monitor::recordReadings() {
    if (!std::exchange(scanHasReadings_, false))
        return;
    station_.recordReadings(scan_.fields);
    if (view_)
        found_.push_back({.readings = std::make_shared<const Finding::Fields>(scan_)});
    scan_ = {};
}

void Monitor::reading(telemetry::Reading which, std::string_view text) {
    const auto i = static_cast<std::size_t>(which);
    const std::optional<float> number = telemetry::toSingle(text);
    scan_.fields[i] = Field{fromLatin1(text), number};
    if (number)
        scan_.numbers[i] = number;
    scanHasReadings_ = true;
}

void Monitor::band(telemetry::Band band) {
    const bool high = band == telemetry::Band::High;
    station_.recordBand(high);
    if (view_)
        found_.push_back({.kind = Finding::Band, .high = high});
}

void Monitor::overPowerWarning() {
    overPowerNext_ = true;
}

void Monitor::alarm(std::string_view text) {
    recordReadings();
    const bool overPower = std::exchange(overPowerNext_, false);
    if (overPower) {
        // With a window the warning is the box's, and the box holds the tick; without one it
        // waits for DISMISS WARNING.
        if (view_)
            ++boxesOwed_;
        if (!station_.overPowerWarning().open)
            station_.recordOverPowerWarning(true, view_ != nullptr);
    }
    station_.recordAlarm(timeOfDay(), fromLatin1(text));
    if (view_)
        found_.push_back({overPower ? Finding::OverPower : Finding::Alarm, nullptr, false,
                          station_.alarms().back()});
}

void Monitor::acknowledgeWarning() {
    if (boxesOwed_ > 0 && --boxesOwed_ == 0)
        station_.recordOverPowerWarning(false);
}

void Monitor::dismissWarning() {
    if (view_) { // the open box closes as its OK would, and the view acknowledges it
        boxes_.close(QString::fromLatin1(kOverPowerWarning));
        return;
    }
    station_.recordOverPowerWarning(false);
}

} // namespace app
