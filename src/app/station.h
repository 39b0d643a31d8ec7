// The station: what the program knows about the line and the amplifier, each fact in one place.
// The engine (monitor.h) records here what it hears and sends as it happens: the readings and
// alarms a scan finds, as text and number, with the time of the scan. The window, the journal,
// the desktop notifier, the dashboard and the MQTT bridge follow the signals and are never
// called by hand, so they cannot disagree. Every change is one signal.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <algorithm>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace app {

// Where a write to the line came from.
enum class Origin { Button, Poll, Key, Startup, Remote };

// Why a command was not carried out. A remote surface reports it in these words.
enum class Refusal { UnknownCommand, NoPort, TooFast, NoWarningOpen };
inline constexpr const char* kRefusalNames[] = {"unknown command", "no port", "too fast",
                                                "no warning open"};

// A command from the window or from afar: its text as it came, and whether it was carried out.
// Commands from afar refused as too fast are summed up: the last one's text, and how many.
struct CommandRecord {
    Origin from = Origin::Button;
    QByteArray text;
    std::optional<Refusal> refusal;
    int count = 1;
};

// Whether the amplifier answers: unknown while the port is not open and until it has been asked
// something since; silent when a command went unanswered too long.
enum class Amplifier { Unknown, Answering, Silent };

struct PortEvent {
    enum Kind { Opened, Failed, Closed, Lost, Reopened, NotReopened };
    Kind kind = Closed;
    int port = 0;
    QString name;   // "COM3", or the device path the port was opened by
    QString detail; // why, for Failed, Lost and NotReopened
    qint64 ms = 0;
};

// Why the readings are not live, the first that holds, in this order.
enum class Stale {
    PortClosed,
    AmplifierSilent,
    AmplifierNotAsked,
    OverPowerWarning,
    NoRecentReading
};
inline constexpr const char* kStaleReasons[] = {"port closed", "amplifier silent",
                                                "amplifier not asked", "over-power warning",
                                                "no recent reading"};

// One field of a reply: its text exactly as received, and its value where the text is a number.
struct Field {
    QString text;
    std::optional<float> number;
};

// One alarm line, at the scan that found it.
struct AlarmLine {
    qint64 ms = 0;
    QString time; // of day, as the pane shows it
    QString text;
};

class Station : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<qint64()>; // milliseconds since the epoch, UTC

    // Forward, reflected, VSWR, the four stage currents and the total (telemetry::Reading).
    static constexpr std::size_t kFields = 8;
    static constexpr std::size_t kFirstCurrent = 3; // the powers and VSWR come before
    // What one scan found: each field present or absent.
    using Scan = std::array<std::optional<Field>, kFields>;
    static constexpr std::size_t kAlarmsKept = 50;

    struct Port {
        int number = 0; // the COM port last set, 0 before any and for a device opened by path
        QString name;   // "COM3" or the path; empty before any
        QString device;
        bool open = false;
        int chosen = 0; // the port the operator last opened from the menu: the menu's mark
        bool chosenByPath = false; // a device the operator named by its path was opened
        std::optional<PortEvent> last;
    };
    struct Readings {
        std::array<Field, kFields> latest; // each field as last found; empty before
        qint64 powersMs = -1;              // the scan that last found forward, reflected or VSWR
        qint64 currentsMs = -1;            // the scan that last found a current
        Scan scan;                         // what the last scan with readings found
        qint64 ms() const { return std::max(powersMs, currentsMs); } // -1 before any
    };
    struct Warning {
        bool open = false; // an over-power warning waits to be dismissed
        qint64 since = 0;
        bool holdsPolls = false; // the window's box holds its tick, and so the polls
    };
    struct Polling {
        bool on = false;
        bool currents = false;
    };
    struct Replies {
        Amplifier state = Amplifier::Unknown;
        qint64 silentSince = 0; // when the first command that went unanswered went out
        qint64 last = -1;       // when the last byte came; -1 before the first
    };

    struct Journal {
        enum State { Off, Ok, Failing };
        State state = Off;
        QString file; // its name, without the folder
        qint64 failingSince = 0;
        qsizetype waiting = 0; // lines held until the file takes them again
        quint64 lost = 0;      // lines dropped beyond what can be held
        QString reason;        // the system's words
    };

    // The message broker that the station is published on, when there is one.
    struct Bus {
        bool on = false;
        bool connected = false;
        quint64 reconnects = 0;
        QString broker;             // its host
        qint64 since = 0;           // the last change of connected; the station keeps it
        QString reason;             // why not connected; empty while connected
        quint64 publishRefused = 0; // messages the broker acknowledged with a refusal
        QString lastRefusal;        // its words for the last of them
        bool refusing = false;      // some topic is refused still
        quint64 tooLarge = 0;       // its messages over our bound, dropped
    };

    // A command (not a typed key: a key may have no answer) that no byte follows within this
    // long makes the amplifier silent.
    static constexpr std::chrono::milliseconds kSilenceAfter{5000};
    // Readings older than this are no longer live.
    static constexpr std::chrono::milliseconds kStaleAfter{10000};

    explicit Station(Clock clock = nullptr, QObject* parent = nullptr);

    qint64 now() const { return clock_(); }
    void setClock(Clock clock) { clock_ = std::move(clock); }
    const Port& port() const { return port_; }
    const Readings& readings() const { return readings_; }
    const std::deque<AlarmLine>& alarms() const { return alarms_; } // the latest, oldest first
    std::optional<bool> highBand() const { return highBand_; }      // none before a band report
    const Warning& overPowerWarning() const { return warning_; }
    const Polling& polling() const { return polling_; }
    const Replies& replies() const { return replies_; }
    const Journal& journal() const { return journal_; }
    const Bus& bus() const { return bus_; }
    // Whether the readings are live, and if not why: none while live.
    std::optional<Stale> staleBecause() const { return stale_; }
    void setSilenceAfter(std::chrono::milliseconds after) { silenceAfter_ = after; }
    void setStaleAfter(std::chrono::milliseconds after);

    void recordPort(PortEvent::Kind kind, int number, const QString& name, const QString& device,
                    const QString& detail = {});
    // The fields one scan found (at least one present).
    void recordReadings(const Scan& found);
    void recordAlarm(const QString& time, const QString& text);
    void recordBand(bool high);
    void recordOverPowerWarning(bool open, bool holdsPolls = false);
    void recordPolling(bool on, bool currents);
    void recordWrite(const QByteArray& bytes, Origin origin);
    // Bytes arrived. The time of the last one changes with every byte, so it rides along with
    // the next change rather than making one of its own; an end of silence is one.
    void recordReceived();
    void recordJournal(const Journal& journal);
    void recordCommand(const CommandRecord& command);
    void recordBus(const Bus& bus);

signals:
    void portChanged(const app::PortEvent& event);
    void readingsChanged();
    void alarmLogged(const app::AlarmLine& line);
    void bandReported(bool high); // every report, also of the band already shown
    void overPowerWarningChanged(bool open);
    void pollingChanged();
    void written(const QByteArray& bytes, app::Origin origin);
    void amplifierChanged(app::Amplifier before);
    void journalChanged();
    void commandHandled(const app::CommandRecord& command);
    void busChanged();
    void liveChanged(); // live or stale, or another reason

private:
    void setAmplifier(Amplifier state);
    void judgeLive();

    Clock clock_;
    Port port_;
    Readings readings_;
    std::deque<AlarmLine> alarms_;
    std::optional<bool> highBand_;
    Warning warning_;
    Polling polling_;
    Replies replies_;
    Journal journal_;
    Bus bus_;
    std::chrono::milliseconds silenceAfter_ = kSilenceAfter;
    QTimer silence_; // from the first unanswered command on
    qint64 unansweredSince_ = -1;
    std::chrono::milliseconds staleAfter_ = kStaleAfter;
    QTimer ageing_; // until the latest reading is too old
    std::optional<Stale> stale_ = Stale::PortClosed;
};

} // namespace app
