// vorland-cli compress and decompress, as a script sees them: files, exit
// statuses, and what lands on stdout and stderr.

#include "clirunner.h"
#include "testdata.h"

#include <QProcess>
#include <QtTest>

class TestCliCodec : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTrip_data();
    void roundTrip();
    void decompressRefuses_data();
    void decompressRefuses();
    void missingInput();
    void standardStreams();
    void usage_data();
    void usage();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    std::unique_ptr<QTemporaryDir> dir;
};

void TestCliCodec::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliCodec::write(const QString &name, const QByteArray &bytes) const
{
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray TestCliCodec::read(const QString &name) const
{
    QFile file(path(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TestCliCodec::roundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("text") << testdata::text(200000);
    QTest::newRow("random") << testdata::randomBytes(70000);
}

void TestCliCodec::roundTrip()
{
    QFETCH(QByteArray, input);
    write("in", input);
    CliRun run = runCli({"compress", path("in"), path("in.refp")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.isEmpty());
    const QByteArray stream = read("in.refp");
    // Only a stream that does not shrink its file is worth a word.
    QCOMPARE(run.err.contains("warning: the Refp stream"),
             !input.isEmpty() && stream.size() >= input.size());
    QCOMPARE(stream.left(2), QByteArray("\x10\xFB"));

    run = runCli({"decompress", path("in.refp"), path("out")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFile::exists(path("out")));
    QVERIFY(read("out") == input);
}

void TestCliCodec::decompressRefuses_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("plain file") << QByteArray("BIGF and more")
                                << QByteArray("is not a Refp stream");
    QTest::newRow("empty file") << QByteArray() << QByteArray("is not a Refp stream");
    QTest::newRow("cut short") << QByteArray("\x10\xFB\x00\x00\x08\xE0"
                                             "ab",
                                             8)
                               << QByteArray("is a damaged Refp stream");
    QTest::newRow("4 GiB declared")
        << QByteArray("\x90\xFB\xFF\xFF\xFF\xFF\xFC", 7) << QByteArray("is a damaged Refp stream");
}

void TestCliCodec::decompressRefuses()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, message);
    write("in", input);
    // A file already at the output's place stays as it was.
    write("existing", "keep me");
    CliRun run = runCli({"decompress", path("in"), path("existing")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    QCOMPARE(read("existing"), QByteArray("keep me"));

    run = runCli({"decompress", path("in"), path("new")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(path("new")));
}

void TestCliCodec::missingInput()
{
    for (const char *verb : {"compress", "decompress"}) {
        const CliRun run = runCli({verb, path("absent"), path("out")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.startsWith("vorland-cli: cannot read"));
        QVERIFY(!QFile::exists(path("out")));
    }
}

void TestCliCodec::standardStreams()
{
    // "-" is standard input and output, as for other compressors; a stream
    // that does not shrink its input is written with a warning.
    const QByteArray noise = testdata::randomBytes(3000, 5);
    write("in.bin", noise);
    QProcess compress, decompress;
    compress.setStandardInputFile(path("in.bin"));
    compress.setStandardOutputProcess(&decompress);
    decompress.setStandardOutputFile(path("back.bin"));
    QVERIFY(startProcess(compress, VORLAND_CLI, {"compress", "-", "-"}));
    QVERIFY(startProcess(decompress, VORLAND_CLI, {"decompress", "-", "-"}));
    QVERIFY(compress.waitForFinished(60000) && decompress.waitForFinished(60000));
    QCOMPARE(compress.exitCode(), 0);
    QVERIFY2(decompress.exitCode() == 0, decompress.readAllStandardError().constData());
    QVERIFY(compress.readAllStandardError().contains("warning: the Refp stream of - is not "
                                                     "smaller than it"));
    QVERIFY(read("back.bin") == noise);
    QVERIFY(!QFile::exists(path("-")));
}

void TestCliCodec::usage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("expectOut");
    QTest::addColumn<QByteArray>("expectErr");
    QTest::newRow("tool help") << QStringList{"--help"} << 0 << QByteArray("decompress IN OUT")
                               << QByteArray();
    QTest::newRow("verb help") << QStringList{"compress", "--help"} << 0
                               << QByteArray("Compresses a file") << QByteArray();
    QTest::newRow("no verb") << QStringList{} << 2 << QByteArray() << QByteArray("no verb given");
    QTest::newRow("unknown verb") << QStringList{"explode"} << 2 << QByteArray()
                                  << QByteArray("unknown verb 'explode'");
    QTest::newRow("missing argument")
        << QStringList{"compress", "x"} << 2 << QByteArray() << QByteArray("missing arguments");
    QTest::newRow("extra argument") << QStringList{"decompress", "x", "y", "z"} << 2 << QByteArray()
                                    << QByteArray("too many arguments");
    QTest::newRow("unknown option") << QStringList{"compress", "--fast", "x", "y"} << 2
                                    << QByteArray() << QByteArray("Unknown option 'fast'");
    QTest::newRow("version") << QStringList{"--version"} << 0 << QByteArray("vorland-cli 0.")
                             << QByteArray();
}

void TestCliCodec::usage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, expectOut);
    QFETCH(QByteArray, expectErr);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.out.contains(expectOut), run.out.constData());
    QVERIFY2(run.err.contains(expectErr), run.err.constData());
    // A usage error is its line and where help is, not the whole help.
    if (exitCode == 2) {
        QCOMPARE(run.err.count('\n'), 2);
        QVERIFY2(run.err.contains("Try 'vorland-cli "), run.err.constData());
    } else {
        QVERIFY(run.err.isEmpty());
    }
}

QTEST_GUILESS_MAIN(TestCliCodec)
#include "tst_cli_codec.moc"
