// Live pages without a browser, for dashboard_bench.sh: CLIENTS WebSocket connections to the
// dashboard's /live at once, kept open for SECONDS. Each new state the program pushes carries in
// "time" the moment its reading reached the window; every client notes how long after that it
// got the state, on the same wall clock (the program's and ours are the same machine's).
//
//   live_clients ws://127.0.0.1:PORT/live [CLIENTS=100] [SECONDS=60]
//
// Prints one line of name=value words: the readings seen, the clients that stayed connected,
// the delays counted (ideally readings x clients) and their median, 99th percentile and
// maximum in milliseconds.
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

namespace {

// What the clients saw, together.
struct Tally {
    std::vector<qint64> delays; // milliseconds
    std::set<QString> readings; // their times
    int connected = 0;
    int lost = 0;
};

struct Client {
    QWebSocket socket;
    bool greeted = false; // the state sent on connect is not a new reading
    QString lastTime;

    void received(const QString& message, Tally& tally) {
        // The clock first: the parsing is ours, not the program's.
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QJsonObject state = QJsonDocument::fromJson(message.toUtf8()).object();
        const QString time = state.value(QLatin1String("time")).toString();
        const bool fresh = greeted && !time.isEmpty() && time != lastTime;
        greeted = true;
        lastTime = time;
        if (!fresh)
            return;
        const QDateTime reached = QDateTime::fromString(time, Qt::ISODateWithMs);
        tally.delays.push_back(now - reached.toMSecsSinceEpoch());
        tally.readings.insert(time);
    }
};

// The nearest-rank percentile of sorted values.
qint64 percentile(const std::vector<qint64>& sorted, double p) {
    if (sorted.empty())
        return -1;
    const auto rank = std::size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: live_clients ws://HOST:PORT/live [CLIENTS] [SECONDS]\n");
        return 2;
    }
    const QUrl url(args[1]);
    const int count = args.value(2, QStringLiteral("100")).toInt();
    const int seconds = args.value(3, QStringLiteral("60")).toInt();

    Tally tally;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) {
        Client* client = clients.emplace_back(std::make_unique<Client>()).get();
        QObject::connect(
            &client->socket, &QWebSocket::textMessageReceived,
            [&tally, client](const QString& m) { client->received(m, tally); });
        QObject::connect(
            &client->socket, &QWebSocket::connected, [&tally] { ++tally.connected; });
        QObject::connect(&client->socket, &QWebSocket::disconnected, [&tally] { ++tally.lost; });
        client->socket.open(url);
    }
    QTimer::singleShot(seconds * 1000, &application, &QCoreApplication::quit);
    application.exec();

    for (auto& client : clients)
        client->socket.disconnect(); // their closing is not counted as lost
    const int stayed = tally.connected - tally.lost;
    std::vector<qint64>& delays = tally.delays;
    std::sort(delays.begin(), delays.end());
    std::printf("readings=%zu clients=%d delays=%zu median=%lld p99=%lld max=%lld\n",
                tally.readings.size(), stayed, delays.size(), (long long)percentile(delays, 50),
                (long long)percentile(delays, 99), (long long)percentile(delays, 100));
    return stayed == count && !delays.empty() ? 0 : 1;
}
