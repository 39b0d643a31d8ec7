// The real window and the real serial port on a pseudo-terminal linked as a COM port.
#include "link/qt_serial_component.h"
#include "support/pty.h"
#include "support/recording_message_box.h"
#include "support/temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTest>

namespace {

// The window on a pseudo-terminal stored as COM1, loaded, with the first bytes it sent.
struct LiveWindow {
    TempSettings settings;
    Pty pty;
    RecordingMessageBox* boxes = new RecordingMessageBox;
    std::unique_ptr<ui::frmWattmeter> window;
    QByteArray firstBytes;

    LiveWindow() {
        if (!pty.isValid() || !pty.linkAsComPort(1, settings.portsFolder()))
            return;
        settings.set("port", "1");
        window =
            std::make_unique<ui::frmWattmeter>(std::make_unique<seriallink::QtSerialComponent>(),
                                               std::unique_ptr<seriallink::MessageBox>(boxes));
        window->Form_Load();
        firstBytes = pty.readExactly(6, 2000);
    }
};

} // namespace

class tst_end_to_end : public QObject {
    Q_OBJECT

private slots:
    void replyShowsOnceTheLineIsQuiet();
    void automaticPollReadsTheAnswer();
};

void tst_end_to_end::replyShowsOnceTheLineIsQuiet() {
    LiveWindow live;
    QVERIFY(live.window);
    QVERIFY2(live.boxes->shown.isEmpty(), qPrintable(live.boxes->shown.value(0).prompt));
    QVERIFY(live.window->mnuPortsCom[0]->isChecked());
    QCOMPARE(live.firstBytes, QByteArray("RESET\r"));

    // The terminal shows a reply upper-cased at once, the readings once the line is quiet.
    QVERIFY(live.pty.write("ok\rFWD: 850 REV: 12\rVSWR: 1.3:1\r"));
    QTRY_VERIFY_WITH_TIMEOUT(live.window->txtTerm->toPlainText().contains("OK\nFWD: 850"), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(live.window->txtForward->text(), QStringLiteral("850"), 3000);
    QCOMPARE(live.window->prgBar1->value(), 850);
    QCOMPARE(live.window->txtReflected->text(), QStringLiteral("12"));
    QCOMPARE(live.window->prgBar2->value(), 12);
    QCOMPARE(live.window->txtVSWR->text(), QStringLiteral("1.3"));
}

void tst_end_to_end::automaticPollReadsTheAnswer() {
    LiveWindow live;
    QVERIFY(live.window);
    QCOMPARE(live.firstBytes, QByteArray("RESET\r"));

    live.window->mnuPoll1->trigger();
    QCOMPARE(live.pty.readExactly(6, 3000), QByteArray("POWER\r"));
    QVERIFY(live.pty.write("FWD: 640 REV: 9\rVSWR: 1.2:1\r"));
    QTRY_COMPARE_WITH_TIMEOUT(live.window->txtForward->text(), QStringLiteral("640"), 3000);
    QCOMPARE(live.window->prgBar1->value(), 640);
    QVERIFY(live.boxes->shown.isEmpty());
}

QTEST_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
