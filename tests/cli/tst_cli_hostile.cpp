// Every file of the hostile corpus through vorland-cli, as a script would
// use it, under a memory and time limit: each run ends with status 0 or 1,
// never a crash, a hang or a usage error.

#include <QDirIterator>
#include <QProcess>
#include <QtTest>

class TestCliHostile : public QObject
{
    Q_OBJECT

private slots:
    void corpus_data();
    void corpus();
};

void TestCliHostile::corpus_data()
{
    QTest::addColumn<QStringList>("arguments");
    QDirIterator it(QStringLiteral(VORLAND_HOSTILE), QDir::Files);
    int count = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        const QString suffix = QFileInfo(file).suffix();
        const QString name = QFileInfo(file).fileName();
        QList<QStringList> runs;
        if (suffix == "big")
            runs = {{"info", "--json", file}, {"list", file}, {"extract", file, "-o", "@OUT@"}};
        else if (suffix == "refp")
            runs = {{"decompress", file, "@OUT@/out.bin"}};
        else if (suffix == "png" || suffix == "tga" || suffix == "tpi")
            runs = {{"render", file, "-o", "@OUT@/out.png"}};
        for (const QStringList &run : runs) {
            QTest::addRow("%s %s", qPrintable(run.first()), qPrintable(name)) << run;
            ++count;
        }
    }
    if (count < 40)
        qFatal("only %d runs in the hostile corpus", count);
}

void TestCliHostile::corpus()
{
    QFETCH(QStringList, arguments);
    QTemporaryDir out;
    arguments.replaceInStrings(QStringLiteral("@OUT@"), out.path());
    QProcess process;
    QStringList command = arguments;
    QString program = QStringLiteral(VORLAND_CLI);
#ifndef VORLAND_SANITIZE
    // 1.5 GiB of address space and 20 s of CPU; the sanitizers need more room.
    command = QStringList{"--as=1610612736", "--cpu=20", program} + arguments;
    program = QStringLiteral("prlimit");
#endif
    process.start(program, command);
    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == 0 || process.exitCode() == 1, err.constData());
    if (process.exitCode() == 1)
        QVERIFY(!err.isEmpty());
}

QTEST_GUILESS_MAIN(TestCliHostile)
#include "tst_cli_hostile.moc"
