// Every file of the hostile corpus through vorland-cli, as a script would
// use it, under a memory and time limit: each run ends with status 0 or 1,
// never a crash, a hang or a usage error. The memory limit is the budget: 64
// MiB plus twice what the file's bytes can legitimately decode to. And every
// verb fails, with one line, when its output cannot be written.

#include "resourcelimits.h"

#include <QDirIterator>
#include <QProcess>
#include <QtTest>

class TestCliHostile : public QObject
{
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
    void stdoutCannotBeWritten_data();
    void stdoutCannotBeWritten();
    void fullDiskIsNamed_data();
    void fullDiskIsNamed();
};

void TestCliHostile::corpus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<qint64>("budget");
    QDirIterator it(QStringLiteral(VORLAND_HOSTILE), QDir::Files);
    int count = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        const QString suffix = QFileInfo(file).suffix();
        const QString name = QFileInfo(file).fileName();
        QList<QStringList> runs;
        if (suffix == "big")
            runs = {{"info", "--json", file},
                    {"list", file},
                    {"test", "--pictures", file},
                    {"extract", file, "-o", "@OUT@"}};
        else if (suffix == "refp")
            runs = {{"decompress", file, "@OUT@/out.bin"}};
        else if (suffix == "png" || suffix == "tga" || suffix == "tpi")
            runs = {{"render", file, "-o", "@OUT@/out.png"}};
        // Refp streams give at most 257 bytes per byte, deflate 1032.
        const qint64 budget =
            (qint64(64) << 20) + 2 * QFileInfo(file).size() * (suffix == "png" ? 1032 : 257);
        for (const QStringList &run : runs) {
            // What a careful user runs first on a file they do not trust
            // stays within the thumbnailer's budget too.
            const bool first =
                run.first() == "info" || run.first() == "list" || run.first() == "test";
            QTest::addRow("%s %s", qPrintable(run.first()), qPrintable(name))
                << run << (first ? std::min(budget, qint64(256) << 20) : budget);
            ++count;
        }
        // The thumbnailer runs unasked on whatever lands in a folder: its
        // budget is fixed, whatever the file's bytes could decode to.
        if (!runs.isEmpty() && suffix != "refp")
            QTest::addRow("thumbnail %s", qPrintable(name))
                << QStringList{"thumbnail", file, "@OUT@/t.png"} << (qint64(256) << 20);
    }
    if (count < 40)
        qFatal("only %d runs in the hostile corpus", count);
}

void TestCliHostile::corpus()
{
    QFETCH(QStringList, arguments);
    QFETCH(qint64, budget);
    QTemporaryDir out;
    arguments.replaceInStrings(QStringLiteral("@OUT@"), out.path());
    QProcess process;
    QStringList command = arguments;
    QString program = QStringLiteral(VORLAND_CLI);
#ifndef VORLAND_SANITIZE
    // The memory budget (heap and private mappings) and 20 s of CPU, a guard
    // against a runaway process rather than a measure; the sanitizers need
    // more room.
    underLimits(program, command, {QString("--data=%1").arg(budget), "--cpu=20"});
#else
    Q_UNUSED(budget)
#endif
    process.start(program, command);
    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0 || process.exitCode() == 1, err.constData());
    if (process.exitCode() == 1)
        QVERIFY(!err.isEmpty());
}

void TestCliHostile::stdoutCannotBeWritten_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString demo = QStringLiteral(VORLAND_DEMO);
    QTest::newRow("tool help") << QStringList{"--help"};
    QTest::newRow("verb help") << QStringList{"list", "--help"};
    QTest::newRow("info") << QStringList{"info", demo};
    QTest::newRow("info --json") << QStringList{"info", "--json", demo};
    QTest::newRow("list") << QStringList{"list", demo};
    QTest::newRow("list --json") << QStringList{"list", "--json", demo};
    QTest::newRow("cat") << QStringList{"cat", demo, "text/readme.ini"};
    QTest::newRow("render") << QStringList{"render", demo, "images/sky.tga", "-o", "@OUT@/a.png"};
}

void TestCliHostile::stdoutCannotBeWritten()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir out;
    arguments.replaceInStrings(QStringLiteral("@OUT@"), out.path());
    QProcess process;
    process.setStandardOutputFile(QStringLiteral("/dev/full"));
    process.start(QStringLiteral(VORLAND_CLI), arguments);
    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(err, QByteArray("vorland-cli: cannot write to stdout: No space left on device\n"));
}

void TestCliHostile::fullDiskIsNamed_data()
{
    QTest::addColumn<QStringList>("arguments");
    const QString demo = QStringLiteral(VORLAND_DEMO);
    QTest::newRow("compress") << QStringList{"compress", demo, "/dev/full"};
    QTest::newRow("render") << QStringList{"render", demo, "images/sky.tga", "-o", "/dev/full"};
    QTest::newRow("pack") << QStringList{"pack", "@OUT@", "-o", "/dev/full"};
}

void TestCliHostile::fullDiskIsNamed()
{
#if defined(Q_OS_WIN)
    QSKIP("Windows has no /dev/full");
#endif
    // What failed and the system's reason, not "Unknown error".
    QFETCH(QStringList, arguments);
    QTemporaryDir out;
    arguments.replaceInStrings(QStringLiteral("@OUT@"), out.path());
    QProcess process;
    process.start(QStringLiteral(VORLAND_CLI), arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    QCOMPARE(process.readAllStandardError(),
             QByteArray("vorland-cli: cannot write /dev/full: No space left on device\n"));
}

QTEST_GUILESS_MAIN(TestCliHostile)
#include "tst_cli_hostile.moc"
