// The opt-in journal: what goes into it, how text from the line is written, and that no line
// the program acted on is lost, neither in a flood nor when the program is killed.
#include "app/journal.h"
#include "app/journaling_serial.h"
#include "support/fake_serial.h"
#include "support/recording_message_box.h"
#include "support/temp_settings.h"
#include "ui/frm_wattmeter.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>

namespace {

QStringList linesOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n');
}

// Lines without their time stamps.
QStringList events(const QString& path) {
    QStringList out;
    for (const QString& line : linesOf(path)) {
        if (!line.isEmpty())
            out << line.section(u',', 1);
    }
    return out;
}

struct JournaledWindow {
    TempSettings settings;
    QString path = settings.folder() + QStringLiteral("/journal.csv");
    std::unique_ptr<app::Journal> journal = app::Journal::open(path, nullptr);
    FakeSerial* serial = new FakeSerial;
    std::unique_ptr<ui::frmWattmeter> window;

    JournaledWindow() {
        window = std::make_unique<ui::frmWattmeter>(
            std::make_unique<app::JournalingSerial>(std::unique_ptr<seriallink::SerialComponent>(serial), *journal),
            std::make_unique<RecordingMessageBox>());
        window->setJournal(journal.get());
    }
};

} // namespace

class tst_journal : public QObject {
    Q_OBJECT

private slots:
    void field_data();
    void field();
    void linesCarryATimeStampAndAKind();
    void whatTheProgramDidIsJournaled();
    void refusedPortIsJournaled();
    void floodLosesNoLine();
    void killedProgramLeavesWholeLines();
    void unwritableJournalIsRefusedAtStart();
};

void tst_journal::field_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");

    QTest::newRow("plain") << "HIGH VSWR" << "HIGH VSWR";
    QTest::newRow("carriage return") << "POWER\r" << "POWER\\r";
    QTest::newRow("control bytes") << QString::fromLatin1("a\0\x1b", 3) << "a\\x00\\x1b";
    QTest::newRow("backslash") << "a\\b" << "a\\\\b";
    QTest::newRow("comma is quoted") << "SUM OF CURRENT > 100.00, AMPS" << "\"SUM OF CURRENT > 100.00, AMPS\"";
    QTest::newRow("quote is doubled") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
    QTest::newRow("leading blank is kept") << " CURRENT\r" << "\" CURRENT\\r\"";
    QTest::newRow("formula is not run by a spreadsheet") << "=HYPERLINK(1)" << "'=HYPERLINK(1)";
    QTest::newRow("negative reading stays a number") << "-5" << "-5";
    QTest::newRow("Latin-1 letter") << QString::fromLatin1("\xe9") << QString::fromLatin1("\xe9");
}

void tst_journal::field() {
    QFETCH(QString, text);
    QFETCH(QString, written);
    QCOMPARE(app::Journal::field(text), written);
}

void tst_journal::linesCarryATimeStampAndAKind() {
    JournaledWindow j;
    j.journal->alarm(QStringLiteral("HIGH VSWR"));
    const QString line = linesOf(j.path).first();
    const QRegularExpression format(QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,alarm,HIGH VSWR$)"));
    QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
}

void tst_journal::whatTheProgramDidIsJournaled() {
    JournaledWindow j;
    j.settings.set("port", "2");
    j.window->Form_Load();
    j.serial->receive("HIGH BAND SELECTED\rFWD: 850 REV: 12\rVSWR: 1.3:1\rHIGH VSWR\r");
    j.window->Timer1_Timer();
    j.window->mnuPoll1->trigger();
    j.window->Timer1_Timer();

    QCOMPARE(events(j.path), (QStringList{
                                 "port,COM2,opened",
                                 "sent,RESET\\r",
                                 "band,high",
                                 "alarm,HIGH VSWR",
                                 "reading,850,12,1.3,,,,,",
                                 "sent,POWER\\r",
                             }));
}

void tst_journal::refusedPortIsJournaled() {
    JournaledWindow j;
    j.serial->refusedPorts = {3};
    j.window->mnuPortsCom_Click(3);
    const QStringList lines = events(j.path);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().startsWith("port,COM3,failed,"), qPrintable(lines.first()));
}

void tst_journal::floodLosesNoLine() {
    JournaledWindow j;
    j.window->Form_Load(); // no stored port: asks for one, empties the displays
    j.serial->setPortOpen(true);
    constexpr int kTicks = 500;
    for (int i = 0; i < kTicks; ++i) {
        j.serial->receive(QByteArray("CURRENT LIMITER IN EFFECT\rHIGH VSWR\rFWD: ") + QByteArray::number(i) + " ");
        j.window->Timer1_Timer();
    }
    const QStringList lines = events(j.path);
    QCOMPARE(lines.size(), 3 * kTicks);
    QCOMPARE(lines.last(), QStringLiteral("reading,%1,,,,,,,").arg(kTicks - 1));
}

void tst_journal::killedProgramLeavesWholeLines() {
    TempSettings settings;
    QProcess sim;
    sim.start(QStringLiteral(WATTMETER_SIM_PATH), {"--com", "1", "--quiet", "--fast"});
    QVERIFY(sim.waitForStarted(10000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(settings.portsFolder() + "/com1").isSymLink(), 10000);
    settings.set("port", "1");

    const QString path = settings.folder() + QStringLiteral("/journal.csv");
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(WATTMETER_PATH), {"--journal", path});
    QVERIFY(program.waitForStarted(10000));
    // The program has acted on the restart banner once the alarm pane has its line.
    QTRY_VERIFY_WITH_TIMEOUT(events(path).contains("alarm,AMPLIFIER RESTARTED"), 10000);
    ::kill(static_cast<pid_t>(program.processId()), SIGKILL);
    QVERIFY(program.waitForFinished(5000));
    sim.terminate();
    sim.waitForFinished(3000);

    const QStringList lines = linesOf(path);
    QCOMPARE(lines.last(), QString()); // the file ends with a whole line
    QCOMPARE(events(path).mid(0, 2), (QStringList{"port,COM1,opened", "sent,RESET\\r"}));
    QVERIFY(events(path).contains("band,high"));
}

void tst_journal::unwritableJournalIsRefusedAtStart() {
    TempSettings settings;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(WATTMETER_PATH), {"--journal", settings.folder() + "/no/such/folder/j.csv"});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitCode(), 1);
    QVERIFY(program.readAllStandardError().contains("cannot open the journal"));
}

QTEST_MAIN(tst_journal)
#include "tst_journal.moc"
