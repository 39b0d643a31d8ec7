// The MQTT client: one session with one broker, on libmosquitto, inside the program's event loop
// on its one thread. Nothing here blocks the loop: the host name is resolved by Qt, the connection
// is made to the address without waiting (or on a worker thread, below), and the socket is served
// by socket notifiers and a timer.
//
// What waits to be sent is ours and bounded (the outbox); libmosquitto is handed one message at a
// time, the next when the broker has acknowledged the last, so its own unbounded queue never
// grows.
//
// It speaks MQTT 5 and falls back to 3.1.1, once and for good, when the broker refuses the
// version. MQTT 5 brings the bounds: at most a few of the broker's messages unacknowledged at a
// time, none larger than ours (a CONNECT property that only libmosquitto's blocking connect
// sends, so that connect runs on a worker thread and hands the session back; a TLS session
// connects without waiting instead, as its certificate check is ours to record on this thread),
// and the broker's reasons for a refused publish or a DISCONNECT. A broker that ignores the bound
// still costs libmosquitto one read of the whole message; we copy none of it. A broker that stops
// reading makes us stop reading too, which bounds libmosquitto's queue of acknowledgements, and
// ends the session when its writes have not drained within the keep-alive.
//
// The client connects again by itself, with a back-off, after the broker went away, was not there,
// or refused it; only a session that lasted starts the back-off again from the first delay, and
// a session another client took over under our id is tried again only after a minute. A broker
// too old to say so (mosquitto before 2.0.15) just closes it: two sessions in a row that it
// closed soon after they began, each taken up again at the first try, are taken as the same. Each
// new cause is one line on standard error. Every session it starts is
// announced, so the owner can publish what a fresh session needs (availability, discovery,
// state); the subscriptions are renewed by the client.
//
// The owner's part, in order: fill the settings from the options (parseBrokerUrl, readPassword,
// the node id; a will of "offline" on its availability topic), subscribe to what it takes in,
// connect sessionStarted to publishing "online", the discovery configurations and the state with
// publishLatest, send each alarm with publishEvent, and start(). connectedChanged, reconnects()
// and eventsDropped() are its figures to show. On a clean exit it calls stop() with "offline".
#pragma once

#include "mqtt/options.h"
#include "mqtt/outbox.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QHostAddress;
class QHostInfo;
class QSocketNotifier;
struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;
typedef struct mqtt5__property mosquitto_property;

namespace mqtt {

class TlsContext;

class Client : public QObject {
    Q_OBJECT
public:
    struct Settings {
        BrokerUrl broker;
        std::optional<QByteArray> password; // sent with broker.user
        QString caFile;                     // mqtts:// only; empty: the system's CAs
        QByteArray clientId;
        QByteArray willTopic; // none when empty; retained, QoS 1
        QByteArray willPayload;
        int keepAliveSeconds = 30;
        int firstRetryMs = 1000; // back-off between attempts, doubling up to the last
        int lastRetryMs = 60000;
        // A session that ends sooner leaves the back-off where it was: a broker that accepts and
        // then drops every connection is not hammered at the first delay.
        int stableSessionMs = 30000;
        int housekeepingMs = 1000;    // keep-alive pings and the connect deadline
        int connectTimeoutMs = 10000; // from the attempt to the broker's answer
        int receiveMaximum = 10;      // of the broker's QoS 1 messages unacknowledged (MQTT 5)
        // Writes pending this long stop our reading until they drain.
        int writeStallMs = 1000;
        // After a broker ended the session because another client took the id over.
        int takenOverRetryMs = 60000;
        // Where each report goes; standard error as it is when not set.
        std::function<void(const QString&)> say;
    };

    explicit Client(Settings settings, QObject* parent = nullptr);
    // Leaves without a word: the broker publishes the last will. Call stop() for a clean end.
    ~Client() override;

    // Starts connecting, and keeps at it until stop(). False with the reason, and no attempt,
    // when the settings cannot work (the CA file, a password without a user name, a will that is
    // no message to publish).
    bool start(QString& error);

    // A topic filter to subscribe to at QoS 1, in this session and every later one. False when it
    // is not a valid filter.
    bool subscribe(const QByteArray& topicFilter);
    // QoS 1, through the outbox. False when the topic is not one to publish to, the payload is
    // too large, or too many topics wait.
    bool publishLatest(const QByteArray& topic, const QByteArray& payload, bool retain);
    bool publishEvent(const QByteArray& topic, const QByteArray& payload,
                      Outbox::Event kind = Outbox::Event::Alarm);

    // Sends `payload` on `topic` (QoS 1) ahead of anything waiting, which is given up, waits at
    // most `timeoutMs` for the broker's acknowledgement while the event loop runs, and
    // disconnects. True when the broker acknowledged it.
    bool stop(const QByteArray& topic, const QByteArray& payload, bool retain, int timeoutMs = 300);

    bool isConnected() const { return state_ == State::Connected; }
    // Sessions started after the first.
    quint64 reconnects() const { return sessions_ > 0 ? sessions_ - 1 : 0; }
    quint64 eventsDropped() const { return outbox_.eventsDropped(); } // alarms
    quint64 resultsDropped() const { return outbox_.resultsDropped(); }
    // Why the last session ended or the last attempt failed; empty while connected.
    const QString& cause() const { return cause_; }
    // Publishes the broker acknowledged with a refusal (MQTT 5 only), and its last reason.
    quint64 publishRefused() const { return publishRefused_; }
    const QString& lastRefusal() const { return lastRefusal_; }
    bool refusing() const { return !refusedTopics_.isEmpty(); }
    const QString& host() const { return settings_.broker.host; }
    // Messages from the broker over our bound, dropped without a copy.
    quint64 oversizedDropped() const { return oversized_; }

signals:
    void connectedChanged(bool connected);
    // A session has started (the first or a later one): publish what it needs.
    void sessionStarted();
    void messageReceived(const QByteArray& topic, const QByteArray& payload, bool retained);
    // A line also written to standard error: each new cause of trouble, and each connection.
    void reported(const QString& line);
    // cause(), publishRefused() or lastRefusal() changed.
    void statusChanged();

private:
    enum class State { Idle, Resolving, Connecting, Connected, Waiting, Stopping, Stopped };
    using Message = Outbox::Message;
    struct Deleter {
        void operator()(mosquitto* session) const;
    };
    // What libmosquitto's callbacks told during one of its calls, acted on after it returns.
    struct Told {
        std::optional<int> connack;
        std::optional<int> disconnect;           // the broker's reason in its DISCONNECT
        QList<std::pair<int, int>> acknowledged; // message id, reason code
        QList<Message> received;
        QList<std::pair<QByteArray, int>> oversized; // topic, size
        QString error;
        int acknowledging = 0; // messages received that libmosquitto acknowledges
    };
    struct Attempt;

    void resolve();
    void resolved(const QHostInfo& info);
    void connectTo(const QList<QHostAddress>& addresses);
    void connectNext();
    void connectOffLoop(const QByteArray& address);
    void handedBack(const std::shared_ptr<Attempt>& attempt);
    void watch(int rc, int savedErrno);
    void acknowledged(int reason);
    void dropped(const QByteArray& topic, int size);
    void serve(int (*call)(mosquitto*, int));
    void housekeep();
    void handleTold(int rc, int savedErrno);
    void sessionUp();
    void sessionEnded(const QString& cause, bool refused);
    void retryLater(const QString& cause);
    void closeSession();
    void sendNext();
    void updateWriteInterest();
    void report(const QString& what);
    QString describe(int rc, int savedErrno, const QString& logged = {}) const;

    static void onConnect(mosquitto*, void* self, int rc, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*);
    static void onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    Settings settings_;
    State state_ = State::Idle;
    std::unique_ptr<TlsContext> tls_;
    std::unique_ptr<mosquitto, Deleter> session_;
    std::unique_ptr<QSocketNotifier> readable_, writable_;
    QTimer retry_, housekeeping_;
    QElapsedTimer attempt_;
    QElapsedTimer sessionAge_; // since the broker's CONNACK
    int lookup_ = -1;
    QList<QString> addresses_;
    qsizetype nextAddress_ = 0;
    int retryMs_ = 0;
    QString lastCause_; // the last one reported; empty once connected
    QString cause_;
    int protocol_ = 5;
    bool takenOver_ = false;           // the session just ended was taken over
    int shortSessions_ = 0;            // closed by the broker in a row, each soon after it began
    std::shared_ptr<Attempt> pending_; // a connect on the worker thread
    QElapsedTimer wantWrite_;          // since writes have been pending
    int unsentAcks_ = 0;               // messages received since then
    quint64 publishRefused_ = 0, oversized_ = 0;
    QString lastRefusal_;
    QByteArray outTopic_;             // of the outbox's message out
    QList<QByteArray> refusedTopics_; // until each is accepted again
    QByteArray lastOversized_;        // the topic last reported
    Told told_;

    Outbox outbox_;
    int outId_ = 0; // the message id of the outbox's message out
    quint64 sessions_ = 0;
    QList<QByteArray> subscriptions_;
};

} // namespace mqtt
