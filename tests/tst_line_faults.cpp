// A line that floods the window, through the real serial component on a pseudo-terminal:
// the window keeps its panes bounded, ticks and repaints once the line goes quiet, still
// polls, and gives its memory back. (Random bytes belong to the fuzz targets.)
//
// WATTMETER_FLOOD_MB sets the size of the flood: 10 by default, 2 in a sanitized build.
#include "pane_model/pane_model.h"
#include "support/pty.h"
#include "support/window_fixture.h"
#include "ui/log_pane.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr int kDefaultFloodMegabytes = 2; // every byte is several times dearer there
#else
constexpr int kDefaultFloodMegabytes = 10;
#endif

namespace {

double residentMegabytes() {
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toDouble() * double(::sysconf(_SC_PAGESIZE)) /
           (1 << 20);
}

// A quarter megabyte of busy traffic: replies, alarms, band reports and line noise.
QByteArray floodTraffic() {
    QByteArray block;
    QRandomGenerator random(7);
    for (int i = 0; i < 200; ++i) {
        block += "FWD: 850 REV: 12\rVSWR: 1.3:1\rCURRENT:  1.1  2.2  3.3  4.4  11.0  \r";
        if (i % 20 == 0)
            block += "HIGH VSWR\rHIGH BAND SELECTED\r";
        for (int n = 0; n < 40; ++n)
            block += random.bounded(2) ? "\r\b\n"[random.bounded(3)] : char(random.bounded(256));
    }
    return block.repeated(256 * 1024 / block.size() + 1).left(256 * 1024);
}

// Pty::write gives up after a second without progress, which a slow window can take.
bool writeInPieces(Pty& pty, const QByteArray& bytes) {
    for (qsizetype at = 0; at < bytes.size(); at += 16 << 10)
        if (!pty.write(bytes.mid(at, 16 << 10)))
            return false;
    return true;
}

} // namespace

class tst_line_faults : public QObject {
    Q_OBJECT
private slots:
    void flood();
};

void tst_line_faults::flood() {
    const int megabytes = qEnvironmentVariableIsSet("WATTMETER_FLOOD_MB")
                              ? qEnvironmentVariableIntValue("WATTMETER_FLOOD_MB")
                              : kDefaultFloodMegabytes;
    LiveWindow live;
    Pty pty;
    QVERIFY(live.load(pty));
    live.window->show();
    live.part<QAction>("mnuPoll1").trigger();
    live.part<QAction>("mnuPollCurrent").trigger();
    // Warm up first, so the pane, the fonts and the buffers have their working size.
    QSignalSpy ticks(&live.part<seriallink::IntervalTimer>("Timer1"),
                     &seriallink::IntervalTimer::tick);
    const QByteArray piece = floodTraffic();
    QVERIFY(writeInPieces(pty, piece));
    QVERIFY(ticks.wait(3000));
    pty.read(100);
    const double residentBefore = residentMegabytes();

    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < megabytes * 4; ++i)
        QVERIFY(writeInPieces(pty, piece));
    const qint64 writing = clock.restart();
    // The flood has ended once the window has taken the last byte off the line; the bound
    // only tells a window that stopped answering from a slow one.
    ticks.clear();
    QVERIFY(ticks.wait(10000));
    const qint64 untilTick = clock.elapsed();
    QVERIFY(pty.read(1500).contains("POWER\r CURRENT\r"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const double residentAfter = residentMegabytes();
    qInfo("%d MB flood: written in %lld ms, tick %lld ms later; resident %.1f MB before, %.1f MB "
          "after",
          megabytes, writing, untilTick, residentBefore, residentAfter);

    QVERIFY(live.boxes->shown.isEmpty());
    QCOMPARE(live.part<QLineEdit>("txtForward").text(), QStringLiteral("850"));
    // Each pane ends within its limit plus the last append (one read, CRs shown as CR LF).
    QVERIFY(ui::paneLength(live.part<QPlainTextEdit>("txtTerm")) <=
            panemodel::kPaneLimit + 2 * 64 * 1024);
    QVERIFY(ui::paneLength(live.part<QPlainTextEdit>("txtAlarms")) <= panemodel::kPaneLimit + 64);
#if !defined(__SANITIZE_ADDRESS__) // which holds freed memory back on purpose
    QVERIFY2(residentAfter - residentBefore < 5,
             qPrintable(QString("resident memory %1 MB before the flood, %2 MB after")
                            .arg(residentBefore)
                            .arg(residentAfter)));
#endif
}

QTEST_MAIN(tst_line_faults)
#include "tst_line_faults.moc"
