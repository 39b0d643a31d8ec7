// The dashboard: what it serves of what the window shows, what it refuses, a real browser on its
// page (beside the window, which says the same of a silence and a lost port) and a real
// Prometheus on its metrics while the simulator plays the amplifier, and bad and slow clients that
// change nothing for the window or for good clients.
#include "dashboard/server.h"
#include "dashboard/station_view.h"
#include "support/http.h"
#include "support/pty.h"
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QWebSocket>

#include <atomic>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A socket that Qt never reads from: a client that does only what the test makes it do.
int rawClient(quint16 port, const QByteArray& send = {}) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    const sockaddr_in to{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 ||
        ::send(fd, send.constData(), std::size_t(send.size()), MSG_NOSIGNAL) != send.size())
        qFatal("cannot reach the dashboard");
    return fd;
}

// What the server has sent on a raw connection so far, and whether it has closed it.
std::pair<QByteArray, bool> received(int fd) {
    char buffer[65536];
    QByteArray all;
    ssize_t got = 0;
    while ((got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
        all.append(buffer, got);
    return {all, got == 0 || errno == ECONNRESET};
}

int openFiles(qint64 pid) {
    const auto all = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
    return int(QDir(QString("/proc/%1/fd").arg(pid), {}, QDir::NoSort, all).count());
}

double cpuSeconds(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
    const QList<QByteArray> fields = stat.open(QIODevice::ReadOnly)
                                         ? stat.readAll().split(')').last().split(' ')
                                         : QList<QByteArray>(14);
    return (fields[12].toDouble() + fields[13].toDouble()) / double(::sysconf(_SC_CLK_TCK));
}

// A hostile client's sockets, the server it attacks and where a good client goes after it.
struct Siege {
    app::Station* station = nullptr;
    quint16 port = 0;
    qint64 pid = QCoreApplication::applicationPid();
    int files = openFiles(pid); // the server's before the attack
    QList<int> fds;
    TempSettings settings; // for the program, when the attack is on it
    QProcess program;

    // The program serving the dashboard, run by the launcher given first; true once it serves.
    bool serve(QStringList command) {
        port = freePort();
        program.start(command.takeFirst(), command << WATTMETER_PATH << "--serve"
                                                   << QString("127.0.0.1:%1").arg(port)
                                                   << "-platform"
                                                   << "offscreen");
        const bool up = QTest::qWaitFor([&] { return get(port, "/").startsWith("HTTP/1.1 200"); });
        files = openFiles(pid = program.processId());
        return up;
    }
};
using Attack = void (*)(Siege&);

const QByteArray kUpgrade = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                            "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                            "Sec-WebSocket-Version: 13\r\n\r\n";

// Chromium, headless, on one page, driven through its DevTools protocol.
struct Browser {
    QTemporaryDir profile;
    QProcess chromium;
    QWebSocket devtools;
    int calls = 0;

    bool open(const QString& url) {
        const quint16 port = freePort();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TZ", "Etc/GMT-3"); // local time is UTC+3, with no short name
        chromium.setProcessEnvironment(environment);
        chromium.start("chromium",
                       {"--headless=new", "--no-sandbox", "--user-data-dir=" + profile.path(),
                        QString("--remote-debugging-port=%1").arg(port), url});
        const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
        (void)QTest::qWaitFor([&] { return !get(port, "/json/list", host).isEmpty(); }, 30000);
        for (const QJsonValue target : body(get(port, "/json/list", host)).array())
            if (target["url"] == url)
                devtools.open(QUrl(target["webSocketDebuggerUrl"].toString()));
        return QTest::qWaitFor([&] { return devtools.isValid(); });
    }
    // The value of a JavaScript expression on the page, as text: the answer with the call's own
    // id, not one that a call before it gave up waiting for. The answer is waited for in an
    // event loop of its own: QTest's waiting misses the DevTools replies.
    QString evaluate(const QString& expression) {
        const int id = ++calls;
        const QJsonObject call{
            {"id", id},
            {"method", "Runtime.evaluate"},
            {"params", QJsonObject{{"expression", "String(" + expression + ")"}}}};
        QJsonDocument answer;
        QEventLoop loop;
        const auto connection = QObject::connect(
            &devtools, &QWebSocket::textMessageReceived, &loop, [&](const QString& message) {
                const QJsonDocument reply = QJsonDocument::fromJson(message.toUtf8());
                if (reply["id"] == id)
                    answer = reply, loop.quit();
            });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        devtools.sendTextMessage(QJsonDocument(call).toJson());
        loop.exec();
        QObject::disconnect(connection);
        return answer["result"]["result"]["value"].toString();
    }
    // Whether every element the selector finds passes the test, on it as e.
    bool every(const char* selector, const char* test) {
        return evaluate(QString("[...document.querySelectorAll('%1')].every((e) => %2)")
                            .arg(selector, test)) == "true";
    }
    QString text(const QString& id) {
        return evaluate("document.getElementById('" + id + "').textContent");
    }
};

struct Served {
    dashboard::StationView view;
    dashboard::Server server{view};
    quint16 port() { return server.port(); }
    explicit Served(const app::Station& station) : view(station) {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    }
};

} // namespace

Q_DECLARE_METATYPE(Attack)

class tst_dashboard : public QObject {
    Q_OBJECT
private slots:
    void servesWhatTheWindowShows();
    void refusesWhatItDoesNotServe();
    void historyKeepsTheLastHour();
    void hostileClientsLeaveRoomForGoodOnes_data();
    void hostileClientsLeaveRoomForGoodOnes();
    void browserAndPrometheusOnTheSimulator();
};

void tst_dashboard::servesWhatTheWindowShows() {
    WindowFixture f;
    Served s(f.station);
    f.part<QAction>("mnuPortsCom3").trigger();
    f.part<QAction>("mnuPoll1").trigger();
    f.window->Timer1_Timer(); // the next tick polls
    QTest::mouseClick(&f.part<QPushButton>("Status"), Qt::LeftButton);
    f.receiveAndTick("HIGH BAND SELECTED\rFWD: 850 REV: 12\rVSWR: 1.3:1\r"
                     "CURRENT:  8.12  8.03  8.29  8.05  32.49  \rHIGH VSWR\r");
    const QJsonObject state = body(get(s.port(), "/api/readings")).object();
    const QJsonObject expected{{"forward_w", 850}, {"reflected_w", 12}, {"vswr", 1.3},
                               {"stage1_a", 8.12}, {"stage4_a", 8.05},  {"total_a", 32.49},
                               {"band", "2m"},     {"port", "COM3"},    {"port_open", true}};
    for (auto it = expected.begin(); it != expected.end(); ++it)
        QCOMPARE(state[it.key()], it.value());
    QCOMPARE(state["texts"]["total"], f.part<QLineEdit>("txtITotal").text()); // as shown
    QCOMPARE(state["alarms"][0]["text"], "HIGH VSWR");
    QVERIFY(QDateTime::fromString(state["time"].toString(), Qt::ISODateWithMs).isValid());
    const QJsonArray history = body(get(s.port(), "/api/history?minutes=1"))["readings"].toArray();
    QVERIFY(history.size() == 1 && history[0]["forward_w"] == 850 && history[0]["vswr"] == 1.3);

    const QByteArray metrics = get(s.port(), "/metrics");
    for (const char* line :
         {"wattmeter_forward_watts 850\n", "wattmeter_vswr 1.3\n",
          "wattmeter_stage_current_amperes{stage=\"1\"} 8.12\n",
          "wattmeter_stage_current_amperes{stage=\"4\"} 8.05\n", "wattmeter_band{band=\"2m\"} 1\n",
          "wattmeter_port_up{port=\"COM3\"} 1\n", "wattmeter_alarms_total{alarm=\"HIGH VSWR\"} 1\n",
          "wattmeter_polls_total 1\n", "wattmeter_commands_sent_total{command=\"STATUS\"} 1\n"})
        QVERIFY2(metrics.contains(line), line);
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    promtool.write(metrics.mid(metrics.indexOf("\r\n\r\n") + 4));
    promtool.closeWriteChannel();
    QVERIFY(promtool.waitForFinished());
    QVERIFY2(promtool.exitCode() == 0, promtool.readAll());
}

void tst_dashboard::refusesWhatItDoesNotServe() {
    app::Station station;
    Served s(station);
    s.server.setAllowedNames("shack.lan");
    // A request line with the fields given (the Host by default) and the end of the head.
    const auto r = [](const QByteArray& line, const QByteArray& fields = "Host: 127.0.0.1") {
        return line + " HTTP/1.1\r\n" + fields + "\r\nConnection: close\r\n\r\n";
    };
    const std::pair<QByteArray, QByteArray> cases[] = {
        {r("HEAD /metrics", "Host: localhost.:8080 "), "200"},
        {r("GET /", "Host: 10.0.0.255"), "200"},
        {"GET /api/history?minutes=60 HTTP/1.0\r\nHost: [::1]:8080\r\n\r\n", "200"},
        {r("GET /", "Host: 192.168.1.20:8080"), "200"}, // a phone on the LAN
        {r("GET /", "Host: SHACK.lan:8080"), "200"},
        {r("GET /", "Host: evil.example"), "403"}, // DNS rebinding
        {r("GET /", "Host: 127.0.0.1.evil.example"), "403"},
        {r("GET /", "Host: 1a.2.3.4"), "403"},
        {r("GET /", "Host: 1.2.3.256"), "403"},
        {QByteArray(kUpgrade).replace("\r\n\r\n", "\r\nOrigin: http://evil.example\r\n\r\n"),
         "403"},
        {QByteArray(kUpgrade).replace("\r\n", "\n"), "400"}, // an end Qt would never find
        {r("GET /", "Host: 127.0.0.1\nX: y"), "400"},
        {QByteArray(kUpgrade).replace(": 13", ": 8"), "426"},
        {QByteArray(kUpgrade).replace("ZQ==", "ZQ"), "400"},
        {QByteArray(kUpgrade).replace("GET", "POST"), "405"},
        {QByteArray(kUpgrade).replace(": 13", ": 13\r\nContent-Length: 2") + "{}", "400"},
        {r("GET /", "Host: 127.0.0.1\r\nX: a\tb"), "200"},
        {r("GET /", "Host: 127.0.0.1\r\nX: a\x7f"), "400"},
        {r("GET /", "Host: 127.0.0.1\r\nX: a\rb"), "400"},
        {r("GET /", "Host: 127.0.0.1:evil"), "400"},
        {r("GET /", "Host: 127.0.0.1\r\nOrigin: http://127.0.0.1\r\nOrigin: http://a"), "400"},
        {r("POST /api/readings", "Host: 127.0.0.1\r\nContent-Length: 2") + "{}", "405"},
        {r("GET /../../etc/passwd"), "404"},
        {r("GET /api/history?minutes=61"), "400"},
        {r("GET /api/history?minutes=5&x=1"), "400"},
        {r("GET /", "Host: 127.0.0.1\r\nContent-Length: 3") + "abc", "400"},
        {r("GET /", "X: no host"), "400"},
        {r("GET /", "Host: a\r\nHost: b"), "400"},
        {"GET / HTTP/2.0\r\nHost: 127.0.0.1\r\n\r\n", "400"},
        {"GARBAGE\r\n\r\n", "400"},
        {r("GET /\x01"), "400"},
        {r("GET /" + QByteArray(3000, 'a')), "414"},
        {r("GET /", "X: " + QByteArray(9000, 'a')), "431"}};
    for (const auto& [sent, status] : cases) {
        const QByteArray answer = ask(s.port(), sent);
        QVERIFY2(answer.startsWith("HTTP/1.1 " + status), sent.left(80) + "\n" + answer.left(200));
        QVERIFY(answer.contains("Content-Security-Policy: default-src 'none'"));
        QVERIFY(answer.contains(" 405 ") == answer.contains("Allow: GET, HEAD"));
        QVERIFY(answer.contains(" 426 ") == answer.contains("Sec-WebSocket-Version: 13\r\n"));
    }
    QVERIFY(ask(s.port(), r("HEAD /")).endsWith("\r\n\r\n"));
    // A client still sending a head too large after its 431 gets the answer, not a reset.
    const int large = rawClient(s.port(), r("GET /", "X: " + QByteArray(9000, 'a')));
    char head[12];
    QTRY_VERIFY(::recv(large, head, 12, MSG_PEEK | MSG_DONTWAIT) == 12);
    QTest::qWait(100); // what a reset would take to arrive
    QCOMPARE(::send(large, QByteArray(40000, 'b').constData(), 40000, MSG_NOSIGNAL), 40000);
    QCOMPARE(QByteArray(head, 12), "HTTP/1.1 431");
    ::close(large);
    // Two requests at once on a connection that stays open: two answers.
    QTcpSocket keptOpen;
    keptOpen.connectToHost(QHostAddress::LocalHost, s.port());
    keptOpen.write(QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").repeated(2));
    QByteArray answers;
    QTRY_COMPARE((answers += keptOpen.readAll()).count("HTTP/1.1 200"), 2);
}

void tst_dashboard::historyKeepsTheLastHour() {
    // Two readings a second for a hour and fifty seconds: the ring keeps the last 7,200, oldest
    // first, and a shorter history is cut at its start.
    app::Station station;
    qint64 now = 1'700'000'000'000;
    station.setClock([&] { return now; });
    dashboard::StationView view(station);
    const int count = int(dashboard::StationView::kHistorySize) + 100;
    for (int i = 0; i < count; ++i, now += 500)
        station.recordReadings({app::Field{QString::number(i), float(i)}});
    now -= 500;
    const auto history = [&](int minutes) {
        return QJsonDocument::fromJson(view.historyJson(minutes))["readings"].toArray();
    };
    const QJsonArray hour = history(60);
    QCOMPARE(hour.size(), 7200);
    for (int k = 0; k < hour.size(); ++k)
        QCOMPARE(hour[k]["forward_w"].toInt(), 100 + k);
    QVERIFY(history(1).size() == 121 && history(1).first()["forward_w"].toInt() == count - 121);
    // A scan of the total alone is a point too: its powers are null, as the others' currents.
    app::Station::Scan total;
    total[7] = app::Field{"32.49", 32.49f};
    now += 500;
    station.recordReadings(total);
    const QJsonArray two = history(1);
    QVERIFY(two.size() == 121 && two[119]["total_a"].isNull() && two[120]["forward_w"].isNull());
    QCOMPARE(two[120]["total_a"].toDouble(), 32.49);
}

void tst_dashboard::hostileClientsLeaveRoomForGoodOnes_data() {
    QTest::addColumn<Attack>("attack");
    QTest::newRow("bare-LF upgrade heads") << Attack([](Siege& h) {
        for (int i = 0; i < 20; ++i)
            h.fds << rawClient(h.port, QByteArray(kUpgrade).replace("\r\n", "\n"));
        for (const int fd : std::as_const(h.fds))
            QTRY_VERIFY(received(fd).second);
    });
    QTest::newRow("ping flood from a page that never reads") << Attack([](Siege& h) {
        const int before = residentMegabytes(), page = rawClient(h.port, kUpgrade);
        h.fds << page;
        // Pings of 125 bytes, masked, as fast as the server reads them, until it drops the page.
        const QByteArray pings = (QByteArray("\x89\xfd") + QByteArray(129, 'p')).repeated(4096);
        std::atomic<bool> dropped = false;
        std::thread flood([&] {
            while (::send(page, pings.constData(), pings.size(), MSG_NOSIGNAL) > 0)
                continue;
            dropped = true;
        });
        int most = 0;
        QTRY_VERIFY((most = std::max(most, residentMegabytes()), dropped));
        ::shutdown(page, SHUT_RDWR); // ends the flood in any case
        flood.join();
        QVERIFY(most - before < 16);
    });
    QTest::newRow("handshakes at once past the live-page limit") << Attack([](Siege& h) {
        for (int i = 0; i < 20; ++i)
            h.fds << rawClient(h.port, kUpgrade);
        QByteArray heads;
        const auto answered = [&] {
            for (const int fd : std::as_const(h.fds))
                heads += received(fd).first;
            return heads.count("HTTP/1.1 ");
        };
        QTRY_COMPARE(answered(), 20);
        QCOMPARE(heads.count("HTTP/1.1 101"), 10);
        QVERIFY(get(h.port, "/").startsWith("HTTP/1.1 200")); // while the pages are live
        // The page sends nothing: a page that sends a message ("hi", masked with zeros) goes.
        for (const int fd : std::as_const(h.fds))
            ::send(fd, "\x81\x82\0\0\0\0hi", 8, MSG_NOSIGNAL);
        for (const int fd : std::as_const(h.fds))
            QTRY_VERIFY(received(fd).second);
    });
    QTest::newRow("a page that never reads its updates") << Attack([](Siege& h) {
        h.fds << rawClient(h.port, kUpgrade);
        for (int i = 0; i < 3000; ++i) {
            h.station->recordAlarm("12:34:56", "HIGH VSWR"); // the state grows to 50 of them
            QCoreApplication::processEvents();               // each turn pushes the whole state
        }
        QTRY_VERIFY(received(h.fds[0]).second);
    });
    QTest::newRow("a client that sends a byte now and then") << Attack([](Siege& h) {
        h.fds << rawClient(h.port, "G");
        QTRY_VERIFY(received(h.fds[0]).second); // when its time for a whole head is up
    });
    QTest::newRow("a client that takes none of its answers") << Attack([](Siege& h) {
        h.fds << rawClient(
            h.port, QByteArray("GET /app.js HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").repeated(1000));
        // Its answers fill the budget of all connections: everyone gets a 503 until it goes.
        QVERIFY(QTest::qWaitFor([&] { return get(h.port, "/").startsWith("HTTP/1.1 503"); }));
    });
    QTest::newRow("open-file limit cut under a flood of connections") << Attack([](Siege& h) {
        QVERIFY(h.serve({"prlimit", "--nofile=128:256"}));
        for (int i = 0; i < 300; ++i)
            h.fds << rawClient(h.port);
        QTRY_VERIFY(openFiles(h.pid) > 128); // past the soft limit it started with
        const double cpu = cpuSeconds(h.pid);
        QTest::qWait(1000); // a second that a listener retrying failed accepts would spin through
        QVERIFY(cpuSeconds(h.pid) - cpu < 0.5);
        QVERIFY(openFiles(h.pid) <= 256 - dashboard::Server::kFilesKept);
        QVERIFY(get(h.port, "/").startsWith("HTTP/1.1 200"));
    });
    QTest::newRow("no descriptor left, connections waiting") << Attack([](Siege& h) {
        QVERIFY(h.serve({"env"}));
        const auto limit = [&h](int soft) {
            const QString pid = QString::number(h.pid), files = QString("--nofile=%1:").arg(soft);
            return QProcess::execute("prlimit", {"--pid", pid, files}) == 0;
        };
        QVERIFY(limit(h.files - 2)); // below what is open
        for (int i = 0; i < 50; ++i)
            h.fds << rawClient(h.port);
        const double cpu = cpuSeconds(h.pid);
        QTest::qWait(3000); // what a listener that cannot accept would spin through
        QVERIFY(cpuSeconds(h.pid) - cpu < 0.15);
        QVERIFY(limit(1024));
        QElapsedTimer back;
        back.start();
        QVERIFY(get(h.port, "/").startsWith("HTTP/1.1 200") && back.elapsed() < 1000);
    });
}

// Each attack with limits small enough to reach, and then a good client: served, and every
// descriptor the attack took given back.
void tst_dashboard::hostileClientsLeaveRoomForGoodOnes() {
    QFETCH(Attack, attack);
    app::Station station;
    Served s(station);
    s.server.setLimits({.connections = 40, .live = 10, .backlog = 1, .backlogs = 4096});
    s.server.setDeadline(500);
    Siege h;
    h.station = &station;
    h.port = s.port();
    attack(h);
    for (const int fd : std::as_const(h.fds))
        ::close(fd);
    QTRY_VERIFY(openFiles(h.pid) <= h.files);
    QVERIFY(get(h.port, "/api/readings").startsWith("HTTP/1.1 200"));
}

void tst_dashboard::browserAndPrometheusOnTheSimulator() {
    LiveWindow live;
    Served s(live.station);
    QVERIFY(live.loadWithSimulator());
    QSet<double> forward; // every forward power the window showed
    connect(&live.part<QLineEdit>("txtForward"), &QLineEdit::textChanged,
            [&](const QString& text) { forward << text.toDouble(); });
    const QString url = QString("http://127.0.0.1:%1/").arg(s.port());
    Browser browser;
    QVERIFY(browser.open(url));
    // The amplifier answered RESET with no reading, and nobody asks it for one.
    QTRY_COMPARE_WITH_TIMEOUT(browser.text("live"), "Polling off", 5000);
    QCOMPARE(browser.text("updated"), "No reading yet");
    live.part<QAction>("mnuPoll1").trigger();
    live.part<QAction>("mnuPollCurrent").trigger();
    const char* fields[][2] = {
        {"forward", "txtForward"}, {"reflected", "txtReflected"}, {"vswr", "txtVSWR"}};
    QTRY_VERIFY_WITH_TIMEOUT(!live.part<QLineEdit>("txtForward").text().isEmpty(), 10000);
    for (const auto& [id, name] : fields)
        QTRY_COMPARE(browser.text(id), live.part<QLineEdit>(name).text());
    const auto alarms = [&] { return ui::paneText(live.part<QPlainTextEdit>("txtAlarms")); };
    live.tellSimulator("vswr");
    QTRY_VERIFY_WITH_TIMEOUT(alarms().contains(" - HIGH VSWR\r\n"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(browser.text("alarms").contains("HIGH VSWR"), 1000);
    QTRY_VERIFY(browser.every(".chart", "e.dataset.points > 0"));
    // One time axis: the same ticks at the same places on both charts.
    const QString ticks("[...document.querySelectorAll('#%1 .dygraph-axis-label-x')]"
                        ".map((e) => e.textContent + '@' + e.getBoundingClientRect().x).join()");
    QTRY_VERIFY(
        browser
            .evaluate(
                QString("%1 === %2 && %1").arg(ticks.arg("chart"), ticks.arg("chart-current")))
            .contains('@'));
    // Local time until UTC is chosen, each with its zone; the choice outlives a reload.
    const auto vswr = QDateTime::fromMSecsSinceEpoch(live.station.alarms().back().ms, Qt::UTC);
    QVERIFY(browser.text("alarms").contains(
        vswr.addSecs(3 * 3600).toString("hh:mm:ss 'UTC+3 - HIGH VSWR'")));
    QCOMPARE(browser.evaluate("document.querySelector('.dygraph-xlabel').textContent"),
             "Time (UTC+3)");
    browser.evaluate("document.getElementById('zone-utc').click()");
    QVERIFY(browser.text("updated").endsWith(" UTC"));
    browser.evaluate("location.reload()");
    QTRY_VERIFY(browser.text("alarms").contains(vswr.toString("hh:mm:ss 'UTC - HIGH VSWR'")));
    QTRY_COMPARE(browser.evaluate("document.querySelector('.dygraph-xlabel').textContent"),
                 "Time (UTC)");
    // The adapter pulled, and put back while the window's box says so: the page says it as the
    // window does, stale and why, and the box closes itself once the port is back.
    live.boxes->onShow = [&] {
        QTRY_COMPARE(browser.text("port"), "COM1 closed");
        QTRY_COMPARE(browser.text("silence"), "COM1 closed");
        QCOMPARE(browser.text("live"), "Stale");
        QCOMPARE(browser.evaluate("document.getElementById('readings-card').dataset.stale"),
                 "true");
        live.tellSimulator("return");
        QTRY_VERIFY(live.serial->portOpen());
    };
    live.tellSimulator("vanish");
    QTRY_COMPARE(browser.text("port"), "COM1 open");
    QCOMPARE(live.boxes->shown.size(), 1);
    QVERIFY(live.boxes->shown[0].prompt.endsWith(") was lost: the device went away or was "
                                                 "unplugged.\nCOM1 reopens by itself once the "
                                                 "device is back."));
    QCOMPARE(live.boxes->closed, QStringList{live.boxes->shown[0].prompt});
    live.boxes->onShow = nullptr;
    // Silent: the readings look stale and the chart breaks; over the scale, the bar is full.
    live.station.setSilenceAfter(std::chrono::milliseconds(1000));
    live.tellSimulator("mute");
    QTRY_COMPARE_WITH_TIMEOUT(browser.text("live"), "No reply", 5000);
    QCOMPARE(browser.evaluate("document.getElementById('readings-card').dataset.stale"), "true");
    QVERIFY(browser.text("silence").startsWith("No reply for "));
    QTRY_VERIFY(alarms().contains(" - NO REPLY FROM AMPLIFIER\r\n"));
    QTest::qWait(1500); // more polls go unanswered, and the pane says it no more than once
    live.tellSimulator("unmute");
    QTRY_VERIFY_WITH_TIMEOUT(alarms().endsWith(" - AMPLIFIER ANSWERS AGAIN\r\n"), 5000);
    QCOMPARE(alarms().count(" - NO REPLY FROM AMPLIFIER"), 1);
    QVERIFY(live.station.alarms().back().text != "AMPLIFIER ANSWERS AGAIN"); // no alarm
    live.tellSimulator("overpower");
    QTRY_COMPARE_WITH_TIMEOUT(browser.text("live"), "Live", 5000);
    QTRY_VERIFY(browser.every(".chart", "e.dataset.gaps > 0"));
    QTRY_COMPARE_WITH_TIMEOUT(
        browser.evaluate("document.getElementById('bar-forward').dataset.over"), "true", 5000);
    QCOMPARE(browser.evaluate("document.querySelector('#bar-forward .fill').style.width"), "100%");

    // Prometheus scrapes the metrics every second; what it stored is what the window showed.
    Prometheus prometheus(QString("127.0.0.1:%1").arg(s.port()));
    QString stored; // the forward power Prometheus holds
    const QByteArray query = "/api/v1/query?query=wattmeter_forward_watts";
    QTRY_VERIFY_WITH_TIMEOUT(
        !(stored = prometheus.query(query)["data"]["result"][0]["value"][1].toString()).isEmpty(),
        20000);
    QVERIFY(forward.contains(stored.toDouble()));
}

QTEST_MAIN(tst_dashboard)
#include "tst_dashboard.moc"
