// The real window and the real serial port on a pseudo-terminal linked as a COM port.
#include "link/qt_serial_component.h"
#include "support/pty.h"
#include "support/recording_message_box.h"
#include "support/temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QTest>

class tst_end_to_end : public QObject {
    Q_OBJECT

private slots:
    void startupResetsTheStoredPort();
};

void tst_end_to_end::startupResetsTheStoredPort() {
    TempSettings settings;
    Pty pty;
    QVERIFY(pty.isValid());
    QVERIFY(pty.linkAsComPort(1, settings.portsFolder()));
    settings.set("port", "1");

    auto* boxes = new RecordingMessageBox;
    ui::frmWattmeter window(std::make_unique<seriallink::QtSerialComponent>(),
                            std::unique_ptr<seriallink::MessageBox>(boxes));
    window.Form_Load();

    QVERIFY2(boxes->shown.isEmpty(), qPrintable(boxes->shown.value(0).prompt));
    QVERIFY(window.mnuPortsCom[0]->isChecked());
    QCOMPARE(pty.readExactly(6, 2000), QByteArray("RESET\r"));
}

QTEST_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
