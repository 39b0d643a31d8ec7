// The opt-in journal: what goes into it, how text from the line is written, and that no line
// the program acted on is lost, neither in a flood nor when the program is killed.
#include "app/journal.h"
#include "app/journaling_serial.h"
#include "support/window_fixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

// The lines without their time stamps.
QStringList events(const QString& path) {
    QFile file(path);
    QStringList out;
    if (file.open(QIODevice::ReadOnly))
        for (const QString& line :
             QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts))
            out << line.section(u',', 1);
    return out;
}

QProcess* startProgram(QProcess& program, const QString& journal) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(WATTMETER_PATH), {"--journal", journal});
    return &program;
}

struct JournaledWindow {
    TempSettings settings;
    QString path = settings.folder() + QStringLiteral("/journal.csv");
    std::unique_ptr<app::Journal> journal = app::Journal::open(path, nullptr);
    FakeSerial* serial = new FakeSerial;
    ui::frmWattmeter window{std::make_unique<app::JournalingSerial>(
                                std::unique_ptr<seriallink::SerialComponent>(serial), *journal),
                            std::make_unique<RecordingMessageBox>()};
    JournaledWindow() { window.setJournal(journal.get()); }
};

} // namespace

class tst_journal : public QObject {
    Q_OBJECT
private slots:
    void field_data();
    void field();
    void whatTheProgramDidIsJournaled();
    void floodLosesNoLine();
    void killedProgramLeavesWholeLines();
    void unwritableJournalIsRefusedAtStart();
};

void tst_journal::field_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("plain") << "HIGH VSWR"
                           << "HIGH VSWR";
    QTest::newRow("control bytes")
        << QString::fromLatin1("a\r\n\t\0\x1b\x7f", 7) << "a\\r\\n\\t\\x00\\x1b\\x7f";
    QTest::newRow("backslash") << "a\\b"
                               << "a\\\\b";
    QTest::newRow("comma is quoted") << "100.00, AMPS"
                                     << "\"100.00, AMPS\"";
    QTest::newRow("quote is doubled") << "say \"hi\""
                                      << "\"say \"\"hi\"\"\"";
    QTest::newRow("blank at an end is kept") << " CURRENT\r"
                                             << "\" CURRENT\\r\"";
    QTest::newRow("formula is not run by a spreadsheet") << "=HYPERLINK(1)"
                                                         << "'=HYPERLINK(1)";
    QTest::newRow("negative reading stays a number") << "-5"
                                                     << "-5";
    QTest::newRow("Latin-1 letter") << QString::fromLatin1("\xe9") << QString::fromLatin1("\xe9");
}

void tst_journal::field() {
    QFETCH(QString, text);
    QFETCH(QString, written);
    QCOMPARE(app::Journal::field(text), written);
}

void tst_journal::whatTheProgramDidIsJournaled() {
    JournaledWindow j;
    j.settings.set("port", "2");
    j.window.Form_Load();
    j.serial->receive(
        "HIGH BAND SELECTED\rFWD: 850 REV: 12\rVSWR: 1.3:1\rHIGH VSWR\rLOW BAND SELECTED\r");
    j.window.Timer1_Timer();
    part<QAction>(j.window, "mnuPoll1").trigger();
    j.window.Timer1_Timer();
    j.serial->refusedPorts = {3};
    j.window.mnuPortsCom_Click(3);
    emit j.serial->deviceLost("gone");

    const QStringList lines = events(j.path);
    QCOMPARE(
        lines.mid(0, 9),
        (QStringList{"port,COM2,opened", "sent,RESET\\r", "band,high", "alarm,HIGH VSWR",
                     "band,low", "reading,850,12,1.3,,,,,", "sent,POWER\\r", "port,COM2,closed",
                     "port,COM3,failed,COM3 could not be opened: No such file or directory"}));
    QCOMPARE(lines.mid(9), QStringList{"port,COM3,lost,gone"});
    QFile file(j.path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,port,)");
    QVERIFY(stamp.match(QString::fromUtf8(file.readLine())).hasMatch());
}

void tst_journal::floodLosesNoLine() {
    JournaledWindow j;
    j.window.Form_Load(); // no stored port: asks for one, empties the displays
    j.serial->setPortOpen(true);
    constexpr int kTicks = 500;
    for (int i = 0; i < kTicks; ++i) {
        j.serial->receive("CURRENT LIMITER IN EFFECT\rHIGH VSWR\rFWD: " + QByteArray::number(i) +
                          " ");
        j.window.Timer1_Timer();
    }
    const QStringList lines = events(j.path);
    QCOMPARE(lines.size(), 3 * kTicks);
    QCOMPARE(lines.last(), QStringLiteral("reading,%1,,,,,,,").arg(kTicks - 1));
}

void tst_journal::killedProgramLeavesWholeLines() {
    LiveWindow live; // the settings folder and the simulator; its own window is not used
    live.simulator.start(QStringLiteral(WATTMETER_SIM_PATH), {"--com", "1", "--quiet", "--fast"});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(live.settings.portsFolder() + "/com1").isSymLink(), 10000);
    live.settings.set("port", "1");
    const QString path = live.settings.folder() + QStringLiteral("/journal.csv");
    QProcess program;
    QVERIFY(startProgram(program, path)->waitForStarted(10000));
    // The program has acted on the restart banner once the journal has its alarm line.
    QTRY_VERIFY_WITH_TIMEOUT(events(path).contains("alarm,AMPLIFIER RESTARTED"), 10000);
    ::kill(pid_t(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished(5000));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith('\n'));
    QCOMPARE(events(path).mid(0, 2), (QStringList{"port,COM1,opened", "sent,RESET\\r"}));
}

void tst_journal::unwritableJournalIsRefusedAtStart() {
    TempSettings settings;
    QProcess program;
    startProgram(program, settings.folder() + "/no/such/folder/j.csv");
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("cannot open the journal"));
}

QTEST_MAIN(tst_journal)
#include "tst_journal.moc"
