#include "client.h"

#include "tls_context.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include <sys/ioctl.h>

namespace mqtt {

namespace {

// Larger payloads are not ours (the state and the discovery configurations are a few hundred
// bytes); with the bounds on what waits this keeps the memory held for the broker small.
constexpr qsizetype kMaxPayload = 64 * 1024;
// The largest packet we take: a message at the bound with its topic (at most 64 KB) and headers.
constexpr int kMaxPacket = int(kMaxPayload) + 65536 + 64;
// Acknowledgements of the broker's messages that may wait for a broker that reads nothing.
constexpr int kMaxUnsentAcks = 1000;

const QString kStoppedReading = QStringLiteral("the broker stopped reading");

constexpr int kPacketsPerTurn = 32;

std::once_flag libraryReady;

bool publishable(const QByteArray& topic, const QByteArray& payload) {
    return mosquitto_pub_topic_check2(topic.constData(), size_t(topic.size())) ==
               MOSQ_ERR_SUCCESS &&
           payload.size() <= kMaxPayload;
}

QString delayText(int ms) {
    return ms < 1000 ? QStringLiteral("%1 ms").arg(ms)
                     : QStringLiteral("%1 s").arg((ms + 500) / 1000);
}

QString lowerFirst(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toLower();
    if (text.endsWith('.'))
        text.chop(1);
    return text;
}

// A reason code of MQTT 5 in libmosquitto's words.
QString reasonText(int code) {
    return lowerFirst(QString::fromUtf8(mosquitto_reason_string(code)));
}

QString refusal(int protocol, int code) {
    if (protocol == MQTT_PROTOCOL_V5)
        return QStringLiteral("refused: ") + reasonText(code);
    switch (code) {
    case 1:
        return QStringLiteral("refused: protocol version not accepted");
    case 2:
        return QStringLiteral("refused: client id not accepted");
    case 3:
        return QStringLiteral("refused: server unavailable");
    case 4:
        return QStringLiteral("refused: bad user name or password");
    case 5:
        return QStringLiteral("refused: not authorized");
    default:
        return QStringLiteral("refused (code %1)").arg(code);
    }
}

} // namespace

// What a connect on the worker thread needs and gives back. The event loop does not touch it from
// the worker's start to its end; whoever lets go of it last destroys the session.
struct Client::Attempt {
    std::unique_ptr<mosquitto, Deleter> session;
    QByteArray address;
    int port = 0, keepAlive = 0;
    int rc = MOSQ_ERR_SUCCESS, savedErrno = 0;
};

void Client::Deleter::operator()(mosquitto* session) const {
    mosquitto_destroy(session);
}

Client::Client(Settings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
    std::call_once(libraryReady, [] { mosquitto_lib_init(); });
    retryMs_ = settings_.firstRetryMs;
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &Client::resolve);
    housekeeping_.setInterval(settings_.housekeepingMs);
    connect(&housekeeping_, &QTimer::timeout, this, &Client::housekeep);
}

Client::~Client() {
    if (lookup_ >= 0)
        QHostInfo::abortHostLookup(lookup_);
    closeSession();
}

bool Client::start(QString& error) {
    if (state_ != State::Idle) {
        error = QStringLiteral("already started");
        return false;
    }
    if (settings_.password && settings_.broker.user.isEmpty()) {
        error = QStringLiteral("a password needs a user name in the URL");
        return false;
    }
    if (!settings_.willTopic.isEmpty() &&
        !publishable(settings_.willTopic, settings_.willPayload)) {
        error = QStringLiteral("the last will is not a message to publish");
        return false;
    }
    if (settings_.broker.tls) {
        tls_ = TlsContext::create(settings_.broker.host, settings_.caFile, error);
        if (!tls_)
            return false;
    }
    housekeeping_.start();
    resolve();
    return true;
}

bool Client::subscribe(const QByteArray& topicFilter) {
    if (mosquitto_sub_topic_check2(topicFilter.constData(), size_t(topicFilter.size())) !=
        MOSQ_ERR_SUCCESS)
        return false;
    subscriptions_.append(topicFilter);
    if (state_ == State::Connected)
        mosquitto_subscribe(session_.get(), nullptr, topicFilter.constData(), 1);
    updateWriteInterest();
    return true;
}

bool Client::publishLatest(const QByteArray& topic, const QByteArray& payload, bool retain) {
    if (!publishable(topic, payload) || !outbox_.putLatest(topic, payload, retain))
        return false;
    sendNext();
    return true;
}

bool Client::publishEvent(const QByteArray& topic, const QByteArray& payload, Outbox::Event kind) {
    if (!publishable(topic, payload))
        return false;
    outbox_.putEvent(topic, payload, kind);
    sendNext();
    return true;
}

bool Client::stop(const QByteArray& topic, const QByteArray& payload, bool retain, int timeoutMs) {
    retry_.stop();
    housekeeping_.stop();
    if (lookup_ >= 0)
        QHostInfo::abortHostLookup(std::exchange(lookup_, -1));
    if (state_ != State::Connected) {
        closeSession();
        state_ = State::Stopped;
        return false;
    }
    state_ = State::Stopping;
    outbox_.replaceWaiting(topic, payload, retain);
    sendNext();
    // The timer both ends the wait and wakes the loop when nothing else would; a timer may fire
    // a little early, so its firing, not the clock, is the end.
    bool late = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [&late] { late = true; });
    deadline.start(timeoutMs);
    while (session_ && !outbox_.isEmpty() && !late)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const bool acknowledged = session_ && outbox_.isEmpty();
    if (session_) {
        // The DISCONNECT tells the broker to forget the will; it is written at once unless the
        // socket is full, and then the broker is not listening anyway.
        mosquitto_disconnect(session_.get());
        if (session_ && mosquitto_want_write(session_.get()))
            mosquitto_loop_write(session_.get(), 1);
    }
    closeSession();
    state_ = State::Stopped;
    return acknowledged;
}

void Client::resolve() {
    state_ = State::Resolving;
    // Given an address, QHostInfo would look up its name: a wait for nothing.
    if (const QHostAddress address(settings_.broker.host); !address.isNull())
        connectTo({address});
    else
        lookup_ = QHostInfo::lookupHost(settings_.broker.host, this, &Client::resolved);
}

void Client::resolved(const QHostInfo& info) {
    lookup_ = -1;
    if (state_ != State::Resolving)
        return;
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        retryLater(QStringLiteral("cannot resolve the host name (%1)").arg(info.errorString()));
    else
        connectTo(info.addresses());
}

void Client::connectTo(const QList<QHostAddress>& addresses) {
    addresses_.clear();
    for (const QHostAddress& address : addresses)
        addresses_.append(address.toString());
    nextAddress_ = 0;
    connectNext();
}

// Each attempt gets a new libmosquitto session: nothing of a dead connection (its packets, its TLS
// state) is carried into the next, and what waits to be sent is only ours.
void Client::connectNext() {
    closeSession();
    const QByteArray address = addresses_[nextAddress_++].toUtf8();
    session_.reset(mosquitto_new(settings_.clientId.constData(), true, this));
    if (!session_) {
        retryLater(QStringLiteral("cannot create a session (%1)").arg(qt_error_string(errno)));
        return;
    }
    mosquitto* session = session_.get();
    mosquitto_int_option(session, MOSQ_OPT_PROTOCOL_VERSION, protocol_);
    mosquitto_int_option(session, MOSQ_OPT_RECEIVE_MAXIMUM, settings_.receiveMaximum);
    mosquitto_connect_v5_callback_set(session, &Client::onConnect);
    mosquitto_disconnect_v5_callback_set(session, &Client::onDisconnect);
    mosquitto_publish_v5_callback_set(session, &Client::onPublish);
    mosquitto_message_callback_set(session, &Client::onMessage);
    if (!settings_.willTopic.isEmpty())
        mosquitto_will_set(session, settings_.willTopic.constData(),
                           int(settings_.willPayload.size()), settings_.willPayload.constData(), 1,
                           true);
    if (!settings_.broker.user.isEmpty())
        mosquitto_username_pw_set(session, settings_.broker.user.toUtf8().constData(),
                                  settings_.password ? settings_.password->constData() : nullptr);
    if (tls_) {
        mosquitto_int_option(session, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
        mosquitto_void_option(session, MOSQ_OPT_SSL_CTX, tls_->get());
        tls_->clearVerifyFailure();
    }
    told_ = {};
    attempt_.start();
    if (protocol_ == MQTT_PROTOCOL_V5 && !tls_) {
        connectOffLoop(address);
        return;
    }
    // libmosquitto logs only on this thread from here on.
    mosquitto_log_callback_set(session, &Client::onLog);
    errno = 0;
    const int rc = mosquitto_connect_bind_async(session, address.constData(), settings_.broker.port,
                                                settings_.keepAliveSeconds, nullptr);
    watch(rc, errno);
}

// The maximum packet size is a CONNECT property, which only the blocking connect sends. It
// connects the socket, makes it non-blocking and writes the CONNECT, so the broker's answer is
// read here as after the connect that does not wait.
void Client::connectOffLoop(const QByteArray& address) {
    auto attempt = std::make_shared<Attempt>();
    attempt->session = std::move(session_);
    attempt->address = address;
    attempt->port = settings_.broker.port;
    attempt->keepAlive = settings_.keepAliveSeconds;
    pending_ = attempt;
    state_ = State::Connecting;
    QThread* worker = QThread::create([attempt] {
        mosquitto_property* properties = nullptr;
        mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE, kMaxPacket);
        errno = 0;
        attempt->rc =
            mosquitto_connect_bind_v5(attempt->session.get(), attempt->address.constData(),
                                      attempt->port, attempt->keepAlive, nullptr, properties);
        attempt->savedErrno = errno;
        mosquitto_property_free_all(&properties);
    });
    // Not ours to own: a client gone meanwhile leaves the worker to finish and the session to go
    // with the last holder of the attempt.
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, attempt] { handedBack(attempt); });
    worker->start();
}

void Client::handedBack(const std::shared_ptr<Attempt>& attempt) {
    if (attempt != pending_)
        return; // given up meanwhile
    pending_.reset();
    session_ = std::move(attempt->session);
    mosquitto_log_callback_set(session_.get(), &Client::onLog);
    watch(attempt->rc, attempt->savedErrno);
}

void Client::watch(int rc, int savedErrno) {
    if (rc != MOSQ_ERR_SUCCESS) {
        sessionEnded(describe(rc, savedErrno), false);
        return;
    }
    state_ = State::Connecting;
    wantWrite_.invalidate();
    const int socket = mosquitto_socket(session_.get());
    readable_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    writable_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
    connect(
        readable_.get(), &QSocketNotifier::activated, this,
        [this] { serve(&mosquitto_loop_read); });
    connect(writable_.get(), &QSocketNotifier::activated, this,
            [this] { serve(&mosquitto_loop_write); });
    updateWriteInterest();
}

void Client::serve(int (*call)(mosquitto*, int)) {
    // libmosquitto reads one packet a call: a few more while they are there, so that a burst
    // from the broker costs few turns of the loop, but not so many that the loop waits.
    for (int packets = 0; session_ && packets < kPacketsPerTurn; ++packets) {
        errno = 0;
        const int rc = call(session_.get(), 1);
        handleTold(rc, errno);
        int waiting = 0;
        if (call != &mosquitto_loop_read || !session_ || !readable_ || !readable_->isEnabled() ||
            ioctl(mosquitto_socket(session_.get()), FIONREAD, &waiting) != 0 || waiting == 0)
            return; // written, gone, reading stopped, or nothing more to read
    }
}

void Client::housekeep() {
    if (state_ == State::Connecting && attempt_.hasExpired(settings_.connectTimeoutMs) &&
        (session_ || pending_)) {
        sessionEnded(QStringLiteral("no answer"), false);
        return;
    }
    if (!session_)
        return;
    // A broker that takes no more from us gets no more read from it: each message read may
    // queue an acknowledgement, and libmosquitto's queue has no bound of its own.
    if (wantWrite_.isValid() && readable_) {
        if (wantWrite_.hasExpired(qint64(settings_.keepAliveSeconds) * 1000)) {
            sessionEnded(kStoppedReading, false);
            return;
        }
        readable_->setEnabled(!wantWrite_.hasExpired(settings_.writeStallMs) &&
                              unsentAcks_ <= kMaxUnsentAcks);
    }
    errno = 0;
    const int rc = mosquitto_loop_misc(session_.get());
    handleTold(rc, errno);
}

void Client::handleTold(int rc, int savedErrno) {
    const Told told = std::exchange(told_, {});
    const QPointer<Client> alive(this);
    for (const auto& [id, reason] : told.acknowledged)
        if (outbox_.isOut() && id == outId_) {
            outbox_.acknowledge();
            acknowledged(reason);
        }
    for (const auto& [topic, size] : told.oversized)
        dropped(topic, size);
    // Each of these queued an acknowledgement; while the broker takes none, a few are enough.
    if (wantWrite_.isValid() && (unsentAcks_ += told.acknowledging) > kMaxUnsentAcks && readable_)
        readable_->setEnabled(false);
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(session_.get()) < 0) {
        const int connack = told.connack.value_or(0);
        if (connack == MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION && protocol_ == MQTT_PROTOCOL_V5) {
            protocol_ = MQTT_PROTOCOL_V311;
            report(QStringLiteral("the broker does not take MQTT 5; using MQTT 3.1.1"));
            --nextAddress_; // the same address again, at once
            connectNext();
        } else if (connack != 0) {
            sessionEnded(refusal(protocol_, connack), true);
        } else if (told.disconnect == MQTT_RC_SESSION_TAKEN_OVER) {
            const QString cause = QStringLiteral("another client uses the id %1; give each station "
                                                 "its own --mqtt-node")
                                      .arg(QString::fromUtf8(settings_.clientId));
            takenOver_ = true;
            sessionEnded(cause, true);
        } else if (told.disconnect.value_or(0) >= 0x80) {
            sessionEnded(QStringLiteral("the broker ended the session: ") +
                             reasonText(*told.disconnect),
                         true);
        } else if (rc == MOSQ_ERR_KEEPALIVE && wantWrite_.isValid()) {
            sessionEnded(kStoppedReading, false); // its answer may wait behind our writes
        } else {
            sessionEnded(describe(rc, savedErrno, told.error), false);
        }
    } else {
        if (told.connack == 0)
            sessionUp();
        if (alive)
            sendNext();
        if (alive)
            updateWriteInterest();
    }
    for (const Message& message : told.received) {
        if (!alive)
            return;
        emit messageReceived(message.topic, message.payload, message.retain);
    }
}

void Client::sessionUp() {
    state_ = State::Connected;
    sessionAge_.start();
    ++sessions_;
    lastCause_.clear();
    cause_.clear();
    report(QStringLiteral("connected"));
    for (const QByteArray& filter : std::as_const(subscriptions_))
        mosquitto_subscribe(session_.get(), nullptr, filter.constData(), 1);
    const QPointer<Client> alive(this);
    emit connectedChanged(true);
    if (alive && state_ == State::Connected)
        emit sessionStarted();
}

void Client::sessionEnded(const QString& cause, bool refused) {
    const bool wasConnected = state_ == State::Connected;
    closeSession();
    outbox_.returnOut();
    if (state_ == State::Stopping || state_ == State::Stopped)
        return;
    state_ = State::Waiting;
    if (cause != cause_) {
        cause_ = cause;
        const QPointer<Client> alive(this);
        emit statusChanged();
        if (!alive || state_ != State::Waiting)
            return;
    }
    if (wasConnected) {
        const bool lasted = sessionAge_.elapsed() >= settings_.stableSessionMs;
        if (lasted)
            retryMs_ = settings_.firstRetryMs;
        // Two stations under one id, with a broker that gives no reason for taking the session
        // from the one connected: a close the next attempt undoes at once, and again.
        shortSessions_ = lasted || refused ? 0 : shortSessions_ + 1;
        if (shortSessions_ >= 2 && !takenOver_) {
            takenOver_ = true;
            cause_ = QStringLiteral("the broker ends each session soon after it begins; if another "
                                    "client uses the id %1, give each station its own "
                                    "--mqtt-node")
                         .arg(QString::fromUtf8(settings_.clientId));
        }
        const QPointer<Client> alive(this);
        emit connectedChanged(false);
        if (!alive || state_ != State::Waiting)
            return;
    } else if (!refused && nextAddress_ < addresses_.size()) {
        connectNext();
        return;
    } else {
        shortSessions_ = 0; // a broker that was away: its restarts are no such close
    }
    // Two stations under one id take the session from each other at every attempt.
    if (std::exchange(takenOver_, false))
        retryMs_ = std::max(retryMs_, settings_.takenOverRetryMs);
    retryLater(cause_);
}

void Client::retryLater(const QString& cause) {
    state_ = State::Waiting;
    if (cause != lastCause_) {
        lastCause_ = cause;
        report(cause + QStringLiteral("; trying again in ") + delayText(retryMs_));
    }
    retry_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, settings_.lastRetryMs);
}

void Client::closeSession() {
    pending_.reset();
    wantWrite_.invalidate();
    // The notifiers go before libmosquitto closes their socket.
    readable_.reset();
    writable_.reset();
    session_.reset();
}

void Client::sendNext() {
    if (state_ != State::Connected && state_ != State::Stopping)
        return;
    const Message* message = outbox_.takeNext();
    if (!message)
        return;
    errno = 0;
    const int rc = mosquitto_publish(session_.get(), &outId_, message->topic.constData(),
                                     int(message->payload.size()), message->payload.constData(), 1,
                                     message->retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        sessionEnded(describe(rc, errno), false);
    } else {
        outTopic_ = message->topic;
        updateWriteInterest();
    }
}

void Client::updateWriteInterest() {
    if (!writable_)
        return;
    const bool want = session_ && mosquitto_want_write(session_.get());
    writable_->setEnabled(want);
    if (!want) {
        wantWrite_.invalidate();
        readable_->setEnabled(true);
    } else if (!wantWrite_.isValid()) {
        wantWrite_.start();
        unsentAcks_ = 0;
    }
}

// Only MQTT 5 tells of a refusal; a topic refused stays so until a message on it is accepted.
void Client::acknowledged(int reason) {
    const bool refusing = !refusedTopics_.isEmpty();
    if (reason >= 0x80) {
        ++publishRefused_;
        lastRefusal_ = reasonText(reason);
        if (!refusedTopics_.contains(outTopic_))
            refusedTopics_.append(outTopic_);
    } else {
        refusedTopics_.removeOne(outTopic_);
    }
    if (!refusing && !refusedTopics_.isEmpty())
        report(QStringLiteral("the broker refuses our messages: ") + lastRefusal_);
    else if (refusing && refusedTopics_.isEmpty())
        report(QStringLiteral("the broker accepts our messages again"));
    if (reason >= 0x80 || refusing != !refusedTopics_.isEmpty())
        emit statusChanged();
}

void Client::dropped(const QByteArray& topic, int size) {
    ++oversized_;
    if (topic != lastOversized_) {
        lastOversized_ = topic;
        report(QStringLiteral("a message of %1 bytes on %2 is over our bound of %3 KB; dropped")
                   .arg(size)
                   .arg(QString::fromUtf8(topic))
                   .arg(kMaxPayload / 1024));
    }
    emit statusChanged();
}

void Client::report(const QString& what) {
    const QString line =
        QStringLiteral("MQTT broker %1: %2").arg(settings_.broker.authority(), what);
    if (settings_.say)
        settings_.say(line);
    else
        std::fprintf(stderr, "%s\n", qPrintable(line));
    emit reported(line);
}

QString Client::describe(int rc, int savedErrno, const QString& logged) const {
    if (tls_ && !tls_->verifyFailure().isEmpty())
        return QStringLiteral("certificate verify failed: ") + tls_->verifyFailure();
    switch (rc) {
    case MOSQ_ERR_TLS:
        return QStringLiteral("TLS: ") + (logged.isEmpty() ? "handshake failed" : logged);
    case MOSQ_ERR_ERRNO:
    case MOSQ_ERR_CONN_LOST:
    case MOSQ_ERR_NO_CONN:
    case MOSQ_ERR_SUCCESS:
        if (savedErrno == EPROTO && !logged.isEmpty())
            return QStringLiteral("TLS: ") + logged;
        // An end of file, or a close that libmosquitto counts as orderly, leaves no error of the
        // system's to tell; its own text for that would be "success".
        if (savedErrno != 0 && savedErrno != EAGAIN)
            return lowerFirst(qt_error_string(savedErrno));
        return QStringLiteral("the broker closed the connection");
    case MOSQ_ERR_KEEPALIVE:
        return QStringLiteral("no answer to keep-alive");
    default:
        break;
    }
    return lowerFirst(QString::fromUtf8(mosquitto_strerror(rc)));
}

void Client::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    static_cast<Client*>(self)->told_.connack = rc;
}

// Also called for a connection lost, with libmosquitto's error code (below 0x80).
void Client::onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    static_cast<Client*>(self)->told_.disconnect = rc;
}

void Client::onPublish(mosquitto*, void* self, int mid, int reason, const mosquitto_property*) {
    static_cast<Client*>(self)->told_.acknowledged.append({mid, reason});
}

// libmosquitto has read the whole message already; over our bound it goes no further.
void Client::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    Told& told = static_cast<Client*>(self)->told_;
    told.acknowledging += message->qos > 0;
    if (message->payloadlen > kMaxPayload) {
        if (told.oversized.size() < 16)
            told.oversized.append({QByteArray(message->topic), message->payloadlen});
        else
            ++static_cast<Client*>(self)->oversized_;
        return;
    }
    told.received.append(
        {QByteArray(message->topic),
         QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
         message->retain, false});
}

// libmosquitto names the reason of a failed TLS handshake only in its log, as OpenSSL's text.
void Client::onLog(mosquitto*, void* self, int level, const char* text) {
    Told& told = static_cast<Client*>(self)->told_;
    const QString line = QString::fromUtf8(text);
    if ((level & MOSQ_LOG_ERR) && told.error.isEmpty() && line.startsWith("OpenSSL Error"))
        told.error = line.mid(line.lastIndexOf(':') + 1).trimmed();
}

} // namespace mqtt
