// The engine: the station's ears and voice on the line. It owns the serial component (every
// transition recorded), the receive buffer, the tick, the poll cycle, the scan and the command
// path, and records what each scan finds in the station as it finds it: readings as text and
// number, alarms and band reports, all with the time of the scan.
//
// A window is one view of it. After each scan the view is handed what the scans found, in buffer
// order, and may hold its tick on a modal over-power box. The engine never stops hearing behind
// the box: receive events go on, the line is scanned once it goes quiet as a tick would, and what
// is found is recorded at once and appended for the view to show after OK; only the counting
// and the polls wait for the view. Without a view nothing waits: an over-power warning stays open
// until DISMISS WARNING comes through the command path.
#pragma once

#include "command_path.h"
#include "message_box.h"
#include "station.h"
#include "telemetry/poll_cycle.h"
#include "telemetry/scanner.h"

#include <QObject>
#include <QTime>

#include <deque>
#include <functional>
#include <memory>
#include <string>

namespace seriallink {
class SerialComponent;
}

namespace app {

class IntervalTimer;

// One thing a scan found, for a view to show.
struct Finding {
    enum Kind : uchar { Readings, Band, Alarm, OverPower };
    Kind kind = Readings;
    // Readings: the fields found since the finding before, the later of two of the same field,
    // and for each field the last of them that was a number.
    struct Fields {
        Station::Scan fields;
        std::array<std::optional<float>, Station::kFields> numbers;
    };
    std::shared_ptr<const Fields> readings = nullptr;
    bool high = false;    // Band
    AlarmLine alarm = {}; // Alarm, OverPower (whose box comes before its line)
};

class MonitorView {
public:
    virtual ~MonitorView() = default;
    // After every tick: what the scans found that the view has not yet taken, oldest first, all
    // of it recorded in the station already. The view takes from the front. While it waits on an
    // over-power box (and tells acknowledgeWarning() when it is answered), scans behind the box
    // append to the same list.
    virtual void show(std::deque<Finding>& found) = 0;
};

class Monitor : public QObject, private telemetry::ScanSink {
    Q_OBJECT
public:
    using Clock = std::function<QTime()>; // the time of day that alarm lines carry

    Monitor(std::unique_ptr<seriallink::SerialComponent> comm, Station& station,
            QObject* parent = nullptr);
    ~Monitor() override;

    // The window and its message boxes. Without a view the boxes go unseen.
    void attach(MonitorView& view, MessageBox& boxes);
    void detach() { attach(nullptr, nullptr); }

    // The program's start: a receive event per byte, the stored port opened (or a box that asks
    // for one), the tick's period, polling off and RESET.
    void loadStoredPort();
    // The Ports menu's command for COMn.
    seriallink::Result choosePort(int n);
    // The service's start: the port the component was given (a COM number or a device path)
    // opened at the line's settings, and the tick's period; no box, nothing stored.
    seriallink::Result openLine();
    // Exit: the watch for a lost device ends and the port closes.
    void closePort();
    void stopReopening();

    // The handlers of the tick and of the serial component's events.
    void Timer1_Timer();
    void MSComm1_OnComm();

    CommandPath& commands() { return *commands_; }
    // The recorded component: its loss and return, whether a port is open.
    seriallink::SerialComponent& serial() { return *MSComm1; }
    const Station& station() const { return station_; }
    QString timeOfDay() const;
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // The view's over-power box was answered.
    void acknowledgeWarning();

signals:
    // Bytes arrived, as the terminal pane shows them: upper case.
    void received(const std::string& upper);

private:
    void band(telemetry::Band band) override;
    void overPowerWarning() override;
    void alarm(std::string_view text) override;
    void reading(telemetry::Reading which, std::string_view field) override;
    void recordReadings(); // what the scan found so far, before what it finds next
    void dismissWarning();
    void attach(MonitorView* view, MessageBox* boxes);

    // Form members.
    std::string parsestring;      // receive buffer, one byte per character
    telemetry::PollCycle polling; // poll, interval, pollcurrent
    QString port;

    Station& station_;
    seriallink::SerialComponent* MSComm1; // the recorded component
    IntervalTimer* Timer1;
    // Boxes go to the view's, when there is one.
    class ViewBoxes : public MessageBox {
    public:
        MessageBox* view = nullptr;
        int MsgBox(const QString& prompt, int style, const QString& title) override {
            return view ? view->MsgBox(prompt, style, title) : vbOK;
        }
        void close(const QString& prompt) override {
            if (view)
                view->close(prompt);
        }
    } boxes_;
    std::unique_ptr<CommandPath> commands_;
    MonitorView* view_ = nullptr;
    Clock clock_ = [] { return QTime::currentTime(); };

    std::deque<Finding> found_; // for the view
    Finding::Fields scan_;      // readings found since the last finding of another kind
    bool scanHasReadings_ = false;
    bool overPowerNext_ = false; // the next alarm is the over-power warning's
    bool showing_ = false;       // the view has the findings; it may wait on a box
    int boxesOwed_ = 0;          // over-power boxes the view has yet to have answered
};

} // namespace app
