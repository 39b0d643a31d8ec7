#include "client.h"

#include "tls_context.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>

#include <mosquitto.h>

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

QString refusal(int code) {
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
        return QStringLiteral("refused: not authorised");
    default:
        return QStringLiteral("refused (code %1)").arg(code);
    }
}

} // namespace

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
    mosquitto_connect_callback_set(session, &Client::onConnect);
    mosquitto_publish_callback_set(session, &Client::onPublish);
    mosquitto_message_callback_set(session, &Client::onMessage);
    mosquitto_log_callback_set(session, &Client::onLog);
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
    errno = 0;
    const int rc = mosquitto_connect_bind_async(session, address.constData(), settings_.broker.port,
                                                settings_.keepAliveSeconds, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        const int savedErrno = errno;
        sessionEnded(describe(rc, savedErrno), false);
        return;
    }
    state_ = State::Connecting;
    attempt_.start();
    const int socket = mosquitto_socket(session);
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
        if (call != &mosquitto_loop_read || !session_ ||
            ioctl(mosquitto_socket(session_.get()), FIONREAD, &waiting) != 0 || waiting == 0)
            return;
    }
}

void Client::housekeep() {
    if (!session_)
        return;
    if (state_ == State::Connecting && attempt_.hasExpired(settings_.connectTimeoutMs)) {
        sessionEnded(QStringLiteral("no answer"), false);
        return;
    }
    errno = 0;
    const int rc = mosquitto_loop_misc(session_.get());
    handleTold(rc, errno);
}

void Client::handleTold(int rc, int savedErrno) {
    const Told told = std::exchange(told_, {});
    const QPointer<Client> alive(this);
    for (int id : told.acknowledged)
        if (outbox_.isOut() && id == outId_)
            outbox_.acknowledge();
    if (rc != MOSQ_ERR_SUCCESS || mosquitto_socket(session_.get()) < 0) {
        if (told.connack.value_or(0) != 0)
            sessionEnded(refusal(*told.connack), true);
        else
            sessionEnded(describe(rc, savedErrno, told.error), false);
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
    if (wasConnected) {
        if (sessionAge_.elapsed() >= settings_.stableSessionMs)
            retryMs_ = settings_.firstRetryMs;
        const QPointer<Client> alive(this);
        emit connectedChanged(false);
        if (!alive || state_ != State::Waiting)
            return;
    } else if (!refused && nextAddress_ < addresses_.size()) {
        connectNext();
        return;
    }
    retryLater(cause);
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
    if (rc != MOSQ_ERR_SUCCESS)
        sessionEnded(describe(rc, errno), false);
    else
        updateWriteInterest();
}

void Client::updateWriteInterest() {
    if (writable_)
        writable_->setEnabled(session_ && mosquitto_want_write(session_.get()));
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

void Client::onConnect(mosquitto*, void* self, int rc) {
    static_cast<Client*>(self)->told_.connack = rc;
}

void Client::onPublish(mosquitto*, void* self, int mid) {
    static_cast<Client*>(self)->told_.acknowledged.append(mid);
}

void Client::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    static_cast<Client*>(self)->told_.received.append(
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
