// What the amplifier says, through the real window: receive events into the buffer and the
// terminal pane, then the tick into text boxes, bars, lamps and alarm lines.
#include "link/appendlog.h"
#include "support/window_fixture.h"
#include "ui/lamp.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

const QTime kNoon(12, 34, 56);

struct TelemetryFixture : WindowFixture {
    TelemetryFixture() {
        window->setClock([] { return kNoon; });
        serial->setPortOpen(true);
    }
    void receiveAndTick(const QByteArray& text) {
        serial->receive(text);
        window->Timer1_Timer();
    }
    QString alarms() const { return seriallink::paneText(*window->txtAlarms); }
};

} // namespace

class tst_telemetry_window : public QObject {
    Q_OBJECT

private slots:
    void receiveKeepsRawTextAndShowsItUpperCased();
    void otherEventsOnlyRestartTheTimer();
    void reading_data();
    void reading();
    void alarmsAndLamps();
    void overPowerWarnsBeforeEachLine();
    void ticksDoNotNestWhileTheWarningIsOpen();
    void automaticPollGoesOutAfterTheScan();
};

void tst_telemetry_window::receiveKeepsRawTextAndShowsItUpperCased() {
    TelemetryFixture f;
    f.window->Form_Load();
    f.serial->receive("fwd: 5\r\n");
    f.serial->receive("\xe9t\xe9");
    QCOMPARE(f.window->parsestring, std::string("fwd: 5\r\n\xe9t\xe9"));
    QCOMPARE(seriallink::paneText(*f.window->txtTerm),
             QString::fromLatin1("\t\r\nFWD: 5\r\n\xc9T\xc9"));
    QVERIFY(f.window->Timer1->ticking() == (f.window->Timer1->interval() > 0));
}

void tst_telemetry_window::otherEventsOnlyRestartTheTimer() {
    TelemetryFixture f;
    f.window->Timer1->setInterval(500);
    f.window->Timer1->setEnabled(false);
    f.serial->receive("ignored", 1008);
    QVERIFY(f.window->parsestring.empty());
    QCOMPARE(seriallink::paneText(*f.window->txtTerm), QStringLiteral("\t\r\n"));
    QVERIFY(f.window->Timer1->ticking());
}

void tst_telemetry_window::reading_data() {
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("forward");
    QTest::addColumn<int>("bar1");
    QTest::addColumn<QString>("reflected");
    QTest::addColumn<int>("bar2");

    // Both bars start from 100 here, so a refused value shows as 100.
    QTest::newRow("full power reply")
        << QByteArray("FWD: 850 REV: 12\rVSWR: 1.3:1\r") << "850" << 850 << "12" << 12;
    QTest::newRow("above the bar's range")
        << QByteArray("FWD: 1200 ") << "1200" << 100 << "" << 100;
    QTest::newRow("just above the top before rounding")
        << QByteArray("FWD: 1100.4 ") << "1100.4" << 100 << "" << 100;
    QTest::newRow("negative") << QByteArray("FWD: -5 ") << "-5" << 100 << "" << 100;
    QTest::newRow("unit behind the digits")
        << QByteArray("FWD: 850W ") << "850W" << 100 << "" << 100;
    QTest::newRow("reflected with a unit")
        << QByteArray("REV: 25 W\r") << "" << 100 << "25 W" << 100;
    QTest::newRow("reflected plain") << QByteArray("REV: 25\r") << "" << 100 << "25" << 25;
    QTest::newRow("empty field") << QByteArray("FWD:  ") << "" << 100 << "" << 100;
    QTest::newRow("fraction rounds on the bar")
        << QByteArray("FWD: 849.6 ") << "849.6" << 850 << "" << 100;
}

void tst_telemetry_window::reading() {
    QFETCH(QByteArray, received);
    QFETCH(QString, forward);
    QFETCH(int, bar1);
    QFETCH(QString, reflected);
    QFETCH(int, bar2);
    TelemetryFixture f;
    f.window->Form_Load();
    f.window->prgBar1->setValue(100);
    f.window->prgBar2->setValue(100);
    f.receiveAndTick(received);
    QCOMPARE(f.window->txtForward->text(), forward);
    QCOMPARE(f.window->prgBar1->value(), bar1);
    QCOMPARE(f.window->txtReflected->text(), reflected);
    QCOMPARE(f.window->prgBar2->value(), bar2);
    QVERIFY(f.window->parsestring.empty());
}

void tst_telemetry_window::alarmsAndLamps() {
    TelemetryFixture f;
    f.receiveAndTick("HIGH BAND SELECTED\rHIGH VSWR\rHARDWARE - HIGH BAND\r");
    QVERIFY(f.window->shpHigh->lit());
    QVERIFY(!f.window->shpLow->lit());
    QCOMPARE(f.alarms(),
             QStringLiteral("12:34:56 - HIGH VSWR\r\n12:34:56 - HW - HBAND, SW - LBAND\r\n"));

    f.receiveAndTick("LOW BAND SELECTED\rZRT-2730 POWER AMP\r");
    QVERIFY(!f.window->shpHigh->lit());
    QVERIFY(f.window->shpLow->lit());
    QVERIFY(f.alarms().endsWith(QStringLiteral("12:34:56 - AMPLIFIER RESTARTED\r\n")));
    QVERIFY(f.boxes->shown.isEmpty());
}

void tst_telemetry_window::overPowerWarnsBeforeEachLine() {
    TelemetryFixture f;
    QStringList paneAtEachBox;
    f.boxes->onShow = [&] { paneAtEachBox << f.alarms(); };
    f.receiveAndTick("PWR FWD ABOVE 1100\rPWR FWD ABOVE 1100\r");

    const ShownBox warning{
        "Forward power exceeds 1100 watts! A reset will be needed.", seriallink::vbExclamation, {}};
    QCOMPARE(f.boxes->shown, (QList<ShownBox>{warning, warning}));
    const QString line = QStringLiteral("12:34:56 - PWR FWD ABOVE 1100\r\n");
    QCOMPARE(paneAtEachBox, (QStringList{QString(), line}));
    QCOMPARE(f.alarms(), line + line);
}

void tst_telemetry_window::ticksDoNotNestWhileTheWarningIsOpen() {
    TelemetryFixture f;
    f.window->polling.interval = 1;
    f.boxes->onShow = [&] {
        f.window->Timer1_Timer(); // falls due while the box is open
        f.serial->receive("HIGH VSWR\r");
    };
    f.receiveAndTick("PWR FWD ABOVE 1100\r");

    QCOMPARE(f.boxes->shown.size(), 1);
    QCOMPARE(f.window->polling.poll, 1); // only the outer tick counted
    // What arrived meanwhile waits for the next tick instead of being thrown away.
    QCOMPARE(f.window->parsestring, std::string("HIGH VSWR\r"));
    f.window->Timer1_Timer();
    QVERIFY(f.alarms().endsWith(QStringLiteral(" - HIGH VSWR\r\n")));
}

void tst_telemetry_window::automaticPollGoesOutAfterTheScan() {
    TelemetryFixture f;
    f.window->polling.interval = 1;
    f.window->polling.pollcurrent = 1;
    f.window->Timer1_Timer();
    QVERIFY(f.serial->outputs.isEmpty());
    f.window->Timer1_Timer();
    QCOMPARE(f.serial->outputs, (QByteArrayList{"POWER\r", " CURRENT\r"}));
    QCOMPARE(f.serial->written(), QByteArray("POWER\r CURRENT\r"));
}

QTEST_MAIN(tst_telemetry_window)
#include "tst_telemetry_window.moc"
