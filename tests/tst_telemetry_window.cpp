// What the amplifier says, through the real window: receive events into the buffer and the
// terminal pane, then the tick into text boxes, bars, lamps, alarm lines and the next poll.
#include "link/receive_path.h"
#include "support/window_fixture.h"
#include "ui/lamp.h"
#include "ui/log_pane.h"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

struct TelemetryFixture : WindowFixture {
    TelemetryFixture() {
        window->setClock([] { return QTime(12, 34, 56); });
        serial->setPortOpen(true);
    }
    QString text(const char* name) { return part(name).property("text").toString(); }
    QString pane(const char* name) { return ui::paneText(part<QPlainTextEdit>(name)); }
    // The widget itself, without asking the pane to catch up first.
    QString shown(const char* name) {
        return part<QPlainTextEdit>(name).document()->toRawText().replace(QChar::ParagraphSeparator,
                                                                          "\r\n");
    }
    bool lit(const char* name) { return part<ui::Lamp>(name).lit(); }
};

} // namespace

class tst_telemetry_window : public QObject {
    Q_OBJECT
private slots:
    void upperCase_data();
    void upperCase();
    void receiveKeepsRawTextForTheTick();
    void reading_data();
    void reading();
    void alarmsAndLamps();
    void overPowerWarnsBeforeEachLine();
    void ticksDoNotNestWhileTheWarningIsOpen();
    void tickAndKeysFindTheTerminalUpToDate();
    void automaticPollGoesOutAfterTheScan();
};

void tst_telemetry_window::upperCase_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("upper");
    QTest::newRow("a to z") << QByteArray("fwd: az") << QByteArray("FWD: AZ");
    QTest::newRow("capitals, digits and marks stay")
        << QByteArray("AZ09@[`{\x7f") << QByteArray("AZ09@[`{\x7f");
    QTest::newRow("Latin-1 small letters")
        << QByteArray("\xe0\xe9\xf6\xf8\xfe") << QByteArray("\xc0\xc9\xd6\xd8\xde");
    QTest::newRow("division sign, sharp s, y diaeresis stay")
        << QByteArray("\xf7\xdf\xff") << QByteArray("\xf7\xdf\xff");
    QTest::newRow("control characters and NUL stay")
        << QByteArray("\0\b\r\n", 4) << QByteArray("\0\b\r\n", 4);
}

void tst_telemetry_window::upperCase() {
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, upper);
    QCOMPARE(QByteArray::fromStdString(seriallink::upperCaseLatin1(text.toStdString())), upper);
}

void tst_telemetry_window::receiveKeepsRawTextForTheTick() {
    TelemetryFixture f;
    auto& timer = f.part<seriallink::IntervalTimer>("Timer1");
    timer.setInterval(500);
    timer.setEnabled(false);
    f.serial->receive("fwd: 5 FW");
    f.serial->receive("ignored", 1008); // another event only restarts the timer
    f.serial->receive("D: 850 \xe9");
    QVERIFY(timer.ticking());
    QCOMPARE(f.pane("txtTerm"), QString::fromLatin1("\t\r\nFWD: 5 FWD: 850 \xc9"));
    // The scan sees the text as it came: the lower-case reply is no reading.
    f.window->Timer1_Timer();
    QCOMPARE(f.text("txtForward"), QStringLiteral("850"));
    f.serial->receive("FWD: 5 ");
    f.window->Timer1_Timer();
    QCOMPARE(f.text("txtForward"), QStringLiteral("5"));
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
    QTest::newRow("top of the bar")
        << QByteArray("FWD: 1100 REV: 0\r") << "1100" << 1100 << "0" << 0;
    QTest::newRow("just above the top before rounding")
        << QByteArray("FWD: 1100.4 ") << "1100.4" << 100 << "" << 100;
    QTest::newRow("negative") << QByteArray("FWD: -5 ") << "-5" << 100 << "" << 100;
    QTest::newRow("unit behind the digits")
        << QByteArray("FWD: 850W REV: 25 W\r") << "850W" << 100 << "25 W" << 100;
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
    f.part<QProgressBar>("prgBar1").setValue(100);
    f.part<QProgressBar>("prgBar2").setValue(100);
    f.receiveAndTick(received);
    QCOMPARE(f.text("txtForward"), forward);
    QCOMPARE(f.part<QProgressBar>("prgBar1").value(), bar1);
    QCOMPARE(f.text("txtReflected"), reflected);
    QCOMPARE(f.part<QProgressBar>("prgBar2").value(), bar2);
}

void tst_telemetry_window::alarmsAndLamps() {
    TelemetryFixture f;
    f.receiveAndTick("HIGH BAND SELECTED\rHIGH VSWR\rHARDWARE - HIGH BAND\r");
    QVERIFY(f.lit("shpHigh") && !f.lit("shpLow"));
    QCOMPARE(f.pane("txtAlarms"),
             QStringLiteral("12:34:56 - HIGH VSWR\r\n12:34:56 - HW - HBAND, SW - LBAND\r\n"));
    f.receiveAndTick("LOW BAND SELECTED\rZRT-2730 POWER AMP\r");
    QVERIFY(!f.lit("shpHigh") && f.lit("shpLow"));
    QVERIFY(f.pane("txtAlarms").endsWith(QStringLiteral("12:34:56 - AMPLIFIER RESTARTED\r\n")));
    QVERIFY(f.boxes->shown.isEmpty());
}

void tst_telemetry_window::overPowerWarnsBeforeEachLine() {
    TelemetryFixture f;
    QStringList paneAtEachBox;
    f.boxes->onShow = [&] { paneAtEachBox << f.pane("txtAlarms"); };
    f.receiveAndTick("PWR FWD ABOVE 1100\rPWR FWD ABOVE 1100\r");

    const ShownBox warning{
        "Forward power exceeds 1100 watts! A reset will be needed.", app::vbExclamation, {}};
    QCOMPARE(f.boxes->shown, (QList<ShownBox>{warning, warning}));
    const QString line = QStringLiteral("12:34:56 - PWR FWD ABOVE 1100\r\n");
    QCOMPARE(paneAtEachBox, (QStringList{QString(), line}));
    QCOMPARE(f.pane("txtAlarms"), line + line);
}

void tst_telemetry_window::ticksDoNotNestWhileTheWarningIsOpen() {
    TelemetryFixture f;
    f.part<QAction>("mnuPoll1").trigger();
    f.boxes->onShow = [&] {
        f.window->Timer1_Timer(); // falls due while the box is open
        f.serial->receive("HIGH VSWR\r");
    };
    f.receiveAndTick("PWR FWD ABOVE 1100\r");
    QCOMPARE(f.boxes->shown.size(), 1);
    QVERIFY(f.serial->outputs.isEmpty()); // only the outer tick counted
    // What arrived meanwhile waits for the next tick instead of being thrown away.
    f.boxes->onShow = nullptr;
    f.window->Timer1_Timer();
    QVERIFY(f.pane("txtAlarms").endsWith(QStringLiteral(" - HIGH VSWR\r\n")));
    QCOMPARE(f.serial->outputs, QByteArrayList{"POWER\r"});
}

void tst_telemetry_window::tickAndKeysFindTheTerminalUpToDate() {
    TelemetryFixture f;
    for (const char* event : {"POWER\r", "FWD: 8", "\b9"})
        f.serial->receive(event);
    const QString expected = QStringLiteral("\t\r\nPOWER\r\nFWD: 9");
    f.window->Timer1_Timer();
    QCOMPARE(f.shown("txtTerm"), expected);
    f.serial->receive("0");
    QTest::keyClick(&f.part("txtTerm"), Qt::Key_S);
    QCOMPARE(f.serial->written(), QByteArray("s"));
    QCOMPARE(f.shown("txtTerm"), expected + "0");
    const auto& term = f.part<QPlainTextEdit>("txtTerm");
    QCOMPARE(term.textCursor().position(), term.document()->characterCount() - 1);
}

void tst_telemetry_window::automaticPollGoesOutAfterTheScan() {
    TelemetryFixture f;
    for (int i = 0; i < 5; ++i)
        f.window->Timer1_Timer();
    QVERIFY(f.serial->outputs.isEmpty());
    f.part<QAction>("mnuPoll1").trigger();
    f.part<QAction>("mnuPollCurrent").trigger();
    // Long off, the first tick polls at once; then every second tick.
    f.boxes->onShow = [&] { QVERIFY(f.serial->outputs.isEmpty()); };
    f.receiveAndTick("PWR FWD ABOVE 1100\r");
    QCOMPARE(f.serial->outputs, (QByteArrayList{"POWER\r", " CURRENT\r"}));
    f.window->Timer1_Timer();
    f.window->Timer1_Timer();
    QCOMPARE(f.serial->written(), QByteArray("POWER\r CURRENT\rPOWER\r CURRENT\r"));
}

QTEST_MAIN(tst_telemetry_window)
#include "tst_telemetry_window.moc"
