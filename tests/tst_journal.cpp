// The opt-in journal: what goes into it, how text from the line is written, that no line is lost
// in a flood, and the program with a journal it cannot open or write.
#include "app/journal.h"
#include "support/window_fixture.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

namespace {

// The lines without their time stamps, each of which must be whole and well formed.
QStringList events(const QString& path) {
    QFile file(path);
    QStringList out;
    const QRegularExpression stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z,)");
    if (file.open(QIODevice::ReadOnly)) {
        for (QByteArray line; !(line = file.readLine()).isEmpty();)
            out << (line.endsWith('\n') && stamp.match(line).hasMatch() ? line.mid(25).chopped(1)
                                                                        : "broken " + line);
    }
    return out;
}

QProcess* start(QProcess& program, const QString& journal) {
    program.start(QStringLiteral(WATTMETER_PATH), {"--journal", journal, "-platform", "offscreen"});
    return &program;
}

} // namespace

class tst_journal : public QObject {
    Q_OBJECT
private slots:
    void whatTheProgramDidIsJournaled();
    void theProgramsJournalThatCannotWrite();
};

void tst_journal::whatTheProgramDidIsJournaled() {
    // Text from the line, as the journal writes it.
    const std::pair<QString, QString> cases[] = {
        {"HIGH VSWR", "HIGH VSWR"},
        {QString::fromLatin1("a\r\n\t\0\x1b\x7f\xe9\\", 9),
         QString::fromLatin1("a\\r\\n\\t\\x00\\x1b\\x7f\xe9\\\\")},
        {"100.00, AMPS", "\"100.00, AMPS\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {" CURRENT\r", "\" CURRENT\\r\""},
        {"=HYPERLINK(1)", "'=HYPERLINK(1)"}, // a spreadsheet must not run it
        {"-5", "-5"}};
    for (const auto& [text, written] : cases)
        QCOMPARE(app::Journal::field(text), written);
    WindowFixture f;
    const QString path = f.settings.folder() + "/journal.csv";
    auto journal = app::Journal::open(path, nullptr);
    journal->follow(f.station);
    f.settings.set("port", "2");
    f.window->Form_Load();
    // A poll before the first reply is journaled (the second tick is the first one due); the
    // polls that are answered are not.
    f.part<QAction>("mnuPoll1").trigger();
    f.window->Timer1_Timer();
    f.window->Timer1_Timer();
    f.receiveAndTick(
        "HIGH BAND SELECTED\rFWD: 850 REV: 12\rVSWR: 1.3:1\rHIGH VSWR\rLOW BAND SELECTED\r");
    // Each reading line holds what its own scan found: the currents, then after RESET the
    // powers, never both.
    f.receiveAndTick("CURRENT:  11.46  11.36  11.26  11.54  45.62  \r");
    f.window->Reset_Click();
    f.receiveAndTick("FWD: 0 REV: 0\r");
    // Five commands from afar a second; the first refused as too fast is said at once, the rest
    // summed up a second later.
    for (const char* remote : {"RESET", "FOO", "FOO", "FOO", "FOO", "POWER", "POWER", "STATUS"})
        (void)f.monitor->commands().runRemote(remote);
    const QStringList expected =
        QStringList{"port,COM2,opened",
                    "live,no,amplifier not asked",
                    "sent,RESET\\r",
                    "sent,POWER\\r",
                    "live,no,no recent reading",
                    "band,high",
                    "reading,850,12,1.3,,,,,",
                    "live,yes",
                    "alarm,HIGH VSWR",
                    "band,low",
                    "reading,,,,11.46,11.36,11.26,11.54,45.62",
                    "sent,RESET\\r",
                    "reading,0,0,,,,,,",
                    "sent,RESET\\r",
                    "remote,RESET,sent"} +
        QStringList(4, "remote,FOO,refused,unknown command") +
        QStringList{"remote,POWER,refused,too fast", "remote,STATUS,refused,too fast,2"};
    QTRY_COMPARE(events(path), expected);
    // A flood of ticks loses no line; each reading line holds only what its scan found.
    for (int i = 0; i < 500; ++i)
        f.receiveAndTick("CURRENT LIMITER IN EFFECT\rFWD: " + QByteArray::number(i) + " ");
    QCOMPARE(events(path).size(), expected.size() + 2 * 500);
    QCOMPARE(events(path).last(), "reading,499,,,,,,,");
}

void tst_journal::theProgramsJournalThatCannotWrite() {
    // (Killed as it writes, the journal keeps whole lines: tst_service's rotation.)
    TempSettings settings;
    QProcess simulator, program;
    QVERIFY(startSimulator(simulator, settings, {"--fast"})); // lines to write
    QVERIFY(start(program, settings.folder() + "/no/such/folder/j.csv")->waitForFinished(10000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().contains("cannot open the journal"));

    start(program, "/dev/full"); // a journal that stops taking lines says so; the program runs on
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += program.readAllStandardError()).contains("memory\n"), 10000);
    QVERIFY(said.contains("the journal /dev/full cannot be written: No space left on device;"));
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    QVERIFY(program.waitForFinished(5000));
    stopSimulator(simulator);
}

QTEST_MAIN(tst_journal)
#include "tst_journal.moc"
