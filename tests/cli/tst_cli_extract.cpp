// vorland-cli extract: which copy of a path given twice is written, what
// mode a replaced file gets, and what a run that leaves entries out says
// and leaves behind.

#include "bigbuilder.h"
#include "clirunner.h"
#include "testdata.h"

#include <QtTest>

#if !defined(Q_OS_WIN)
#include <sys/stat.h>
#endif

class TestCliExtract : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void choices_data();
    void choices();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestCliExtract::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliExtract::choices_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("existingMode"); // of out/a.txt made before, 0 for none
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("written"); // out/a.txt afterwards
    QTest::addColumn<int>("mode");           // its mode, -1 when not checked
    QTest::addColumn<QByteArray>("message"); // in stderr

    // The copies sit in different runs of entries, taken by different
    // threads, the later one larger so that it would finish first.
    QVector<SampleEntry> twice;
    for (int i = 0; i < 63; ++i)
        twice.append(SampleEntry{"f" + QByteArray::number(i), "x"});
    twice.append(SampleEntry{"a.txt", "first"});
    twice.append(SampleEntry{"a.txt", testdata::text(3 << 20, 5)});
    const QByteArray copies = makeBig(twice);
    const QByteArray later = "left out a later copy of a.txt (entry 65): the first, entry 64, "
                             "is written, as cat reads it";
    QTest::newRow("a path given twice")
        << copies << QStringList() << 0 << 1 << QByteArray("first") << -1 << later;
    QTest::newRow("a path given twice, over a file")
        << copies << QStringList{"--overwrite"} << 0644 << 1 << QByteArray("first") << -1 << later;
    QTest::newRow("a path given three times, by a pattern")
        << makeBig({{"a.txt", "first"}, {"A.TXT", "2"}, {"a.txt", "3"}, {"a.txt", "4"}})
        << QStringList{"a*"} << 0 << 1 << QByteArray("first") << -1
        << QByteArray("left out 2 later copies of a.txt (entries 3, 4): the first, entry 1");

    const QByteArray one = makeBig({{"a.txt", "new"}});
    QTest::newRow("over a program that sets its user")
        << one << QStringList{"--overwrite"} << 04755 << 0 << QByteArray("new") << 0755
        << QByteArray();
    QTest::newRow("over a folder's sticky file") << one << QStringList{"--overwrite"} << 03640 << 0
                                                 << QByteArray("new") << 0640 << QByteArray();

    // Every entry left out: no folder is made for nothing.
    QTest::newRow("nothing written")
        << makeBig({{"..\\a.txt", "x"}, {"b\\..\\..\\c", "y"}}) << QStringList() << 0 << 1
        << QByteArray("<missing>") << -1 << QByteArray("skipped ..\\a.txt: unsafe path");
    QByteArray longPath = bigRecord(0, 0, QByteArray(70000, 'p'));
    const QByteArray shortPath = bigRecord(0, 5, "a.txt");
    const quint32 start = quint32(16 + longPath.size() + shortPath.size());
    QTest::newRow("a path over 64 KiB left out")
        << bigHeader(2, start + 5, start) + longPath + bigRecord(qint32(start), 5, "a.txt") +
               "first"
        << QStringList() << 0 << 1 << QByteArray("first") << -1
        << QByteArray("1 entries have paths longer than 64 KiB");
}

void TestCliExtract::choices()
{
    QFETCH(QByteArray, archive);
    QFETCH(QStringList, options);
    QFETCH(int, existingMode);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, written);
    QFETCH(int, mode);
    QFETCH(QByteArray, message);
    QVERIFY(writeFile(path("a.big"), archive));
    const QString out = path("out/deeper");
    if (existingMode != 0) {
        QVERIFY(QDir().mkpath(out));
        QVERIFY(writeFile(out + "/a.txt", "old"));
#if defined(Q_OS_WIN)
        if (mode >= 0)
            QSKIP("Windows files have no set-user, set-group or sticky bits");
#else
        QCOMPARE(::chmod(QFile::encodeName(out + "/a.txt").constData(), mode_t(existingMode)), 0);
#endif
    }
    // Several runs, so that the threads' timing has its chances.
    for (int run = 0; run < 3; ++run) {
        const CliRun extract = runCli(QStringList{"extract", path("a.big"), "-o", out} + options);
        QCOMPARE(extract.exitCode, exitCode);
        QVERIFY2(extract.err.contains(message), extract.err.constData());
        QFile file(out + "/a.txt");
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>"),
                 written);
        QCOMPARE(QFileInfo::exists(path("out")), written != "<missing>");
#if !defined(Q_OS_WIN)
        struct stat info;
        if (mode >= 0) {
            QCOMPARE(::stat(QFile::encodeName(file.fileName()).constData(), &info), 0);
            QCOMPARE(int(info.st_mode & 07777), mode);
        }
#endif
        if (!options.contains("--overwrite"))
            QDir(path("out")).removeRecursively();
    }
}

QTEST_GUILESS_MAIN(TestCliExtract)
#include "tst_cli_extract.moc"
