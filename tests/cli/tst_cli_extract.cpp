// vorland-cli extract: everything or what names and patterns pick, hostile
// paths, links and files that exist, the archive itself and temporary
// files, another user; which copy of a path given twice is written, what
// mode a replaced file gets, and what a run that leaves entries out says
// and leaves behind.

#include "bigbuilder.h"
#include "clirunner.h"
#include "resourcelimits.h"
#include "testdata.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#if !defined(Q_OS_WIN)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

class TestCliExtract : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void extractAll();
    void extractNamed();
    void extractHostilePaths_data();
    void extractHostilePaths();
    void extractDoesNotFollowLinks();
    void extractKeepsExistingFiles();
    void extractNeverReplacesTheArchive();
    void extractLeavesNoTemporaries();
    void extractAsAnotherUser();
    void extractWarnsInDirectoryOrder();
    void choices_data();
    void choices();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    QString archive(const QString &name, const QByteArray &bytes)
    {
        return writtenFile(path(name), bytes);
    }
    QByteArray read(const QString &name) const { return readFile(path(name)); }
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

const QByteArray text = sampleText();

} // namespace

void TestCliExtract::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliExtract::extractAll()
{
    // Cut directory, an entry past the end and a huge one: what can be
    // written is, the rest is reported.
    QByteArray bytes = makeBig(sampleEntries());
    const CliRun run = runCli({"extract", archive("a.big", bytes), "-o", path("out")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QCOMPARE(read("out/data/art/logo.tga"), QByteArray("TGA bytes"));
    QVERIFY(read("out/data/notes.txt") == text);
    QCOMPARE(read("out/readme"), QByteArray("plain"));
    QCOMPARE(read("out/music.mp3"), QByteArray());

    const QByteArray odd = bigHeader(3) + bigRecord(60, 4, "fine") +
                           bigRecord(200, 10, "past-end") + bigRecord(0, 1 << 30, "huge") + "abcd";
    const CliRun oddRun = runCli({"extract", archive("odd.big", odd), "-o", path("odd")});
    QCOMPARE(oddRun.exitCode, 1);
    QVERIFY(oddRun.err.contains("huge written short: it reaches past the end of the archive"));
    QVERIFY(oddRun.err.contains("past-end written short"));
    QCOMPARE(read("odd/past-end"), QByteArray());
    QCOMPARE(read("odd/huge"), odd);
}

void TestCliExtract::extractNamed()
{
    const QString a = archive("a.big", makeBig(sampleEntries()));
    const CliRun run =
        runCli({"extract", a, "-o", path("out"), "readme", "data/notes.txt", "nope"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("no entry matches nope"));
    QCOMPARE(read("out/readme"), QByteArray("plain"));
    QVERIFY(read("out/data/notes.txt") == text);
    QVERIFY(!QFile::exists(path("out/data/art")));
}

void TestCliExtract::extractHostilePaths_data()
{
    QTest::addColumn<QByteArray>("hostile");
    for (const char *p : {"..\\..\\x", "a\\..\\..\\x", "\\x", "/x", "C:\\x", "a\\\\b", "..", ".\\x",
                          "a/../../x", "bell\x07"})
        QTest::newRow(p) << QByteArray(p);
}

void TestCliExtract::extractHostilePaths()
{
    QFETCH(QByteArray, hostile);
    const QString a =
        archive("h.big", makeBig({{"safe\\one", "1"}, {hostile, "evil"}, {"two", "2"}}));
    QVERIFY(QDir().mkpath(path("deep/inside")));
    const CliRun run = runCli({"extract", a, "-o", path("deep/inside")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("unsafe path"));
    // Everything else was written, and nothing anywhere else.
    QCOMPARE(read("deep/inside/safe/one"), QByteArray("1"));
    QCOMPARE(read("deep/inside/two"), QByteArray("2"));
    QDirIterator it(dir->path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList files;
    while (it.hasNext())
        files << QDir(dir->path()).relativeFilePath(it.next());
    files.sort();
    QCOMPARE(files, (QStringList{"deep/inside/safe/one", "deep/inside/two", "h.big"}));
}

void TestCliExtract::extractDoesNotFollowLinks()
{
    QVERIFY(QDir().mkpath(path("out")));
    QVERIFY(QDir().mkpath(path("elsewhere")));
    QVERIFY(QFile::link(path("elsewhere"), path("out/link")));
    QVERIFY(writeFile(path("elsewhere/target"), "original"));
    QVERIFY(QFile::link(path("elsewhere/target"), path("out/file")));

    const QString a = archive("l.big", makeBig({{"link\\x", "through"}, {"file", "replaced"}}));
    CliRun run = runCli({"extract", a, "-o", path("out"), "--overwrite"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("skipped link\\x"));
    QVERIFY(!QFile::exists(path("elsewhere/x")));
    // The link at "file" is replaced by a file; its target is untouched.
    QCOMPARE(read("elsewhere/target"), QByteArray("original"));
    QVERIFY(!QFileInfo(path("out/file")).isSymLink());
    QCOMPARE(read("out/file"), QByteArray("replaced"));
}

void TestCliExtract::extractKeepsExistingFiles()
{
    const QString a = archive("a.big", makeBig({{"f", "new"}, {"g", "fresh"}}));
    QVERIFY(QDir().mkpath(path("out")));
    QVERIFY(writeFile(path("out/f"), "old"));
    // Without -o, into the current folder; what exists is counted in one line.
    QProcess here;
    here.setWorkingDirectory(path("out"));
    QVERIFY(startProcess(here, VORLAND_CLI, {"extract", a}));
    QVERIFY(here.waitForFinished(60000));
    QCOMPARE(here.exitCode(), 1);
    QCOMPARE(here.readAllStandardError(),
             QByteArray("vorland-cli: kept 1 files that exist already; --overwrite replaces "
                        "them\n"));
    QCOMPARE(read("out/f"), QByteArray("old"));
    QCOMPARE(read("out/g"), QByteArray("fresh"));
    CliRun run = runCli({"extract", a, "-o", path("out")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(run.err.contains("kept 2 files"));
    QCOMPARE(read("out/g"), QByteArray("fresh"));
    run = runCli({"extract", a, "-o", path("out"), "--overwrite", "--quiet"});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.err.isEmpty());
    QCOMPARE(read("out/f"), QByteArray("new"));
    // No temporary files are left behind.
    QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), (QStringList{"f", "g"}));
}

void TestCliExtract::extractNeverReplacesTheArchive()
{
    const QString a = archive("a.big", makeBig({{"a.big", "not the archive"}}));
    const QByteArray before = read("a.big");
    const CliRun run = runCli({"extract", a, "-o", dir->path(), "--overwrite"});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("it is the archive being read"), run.err.constData());
    QCOMPARE(read("a.big"), before);
}

void TestCliExtract::extractLeavesNoTemporaries()
{
    // Past the file-size limit the write fails; its temporary file goes.
    const QString a =
        archive("a.big", makeBig({{"small", "s"}, {"large", testdata::randomBytes(100000)}}));
    QString program = VORLAND_CLI;
    QStringList arguments{"extract", a, "-o", path("out")};
    if (!underLimits(program, arguments, {"--fsize=50000"}))
        QSKIP("no file-size limit to set here");
    QProcess process;
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains(
        "skipped large: cannot write large: File too large"));
    QCOMPARE(QDir(path("out")).entryList(QDir::Files | QDir::Hidden), QStringList{"small"});
}

void TestCliExtract::extractWarnsInDirectoryOrder()
{
    // Enough entries for every thread to take some: the warnings still come
    // in directory order, and every other entry is written.
    QVector<SampleEntry> entries;
    QByteArrayList expected;
    for (int i = 0; i < 1000; ++i) {
        const bool unsafe = i % 97 == 5;
        const QByteArray name = QByteArray("f") + QByteArray::number(i);
        entries.push_back({(unsafe ? "..\\" : "d\\") + name, name, i % 3 == 0});
        if (unsafe)
            expected << "vorland-cli: skipped ..\\" + name + ": unsafe path";
    }
    const CliRun run =
        runCli({"extract", archive("many.big", makeBig(entries)), "-o", path("out")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err.trimmed().split('\n'), expected);
    for (const SampleEntry &entry : entries) {
        if (!entry.path.startsWith(".."))
            QCOMPARE(read("out/d/" + entry.data), entry.data);
    }
}

void TestCliExtract::extractAsAnotherUser()
{
    // Without root's powers (some kernels then refuse to link a descriptor by
    // itself, and its /proc name serves): the same bytes, owned by the user.
#if defined(Q_OS_WIN)
    QSKIP("POSIX users");
#else
    const QString setpriv = QStandardPaths::findExecutable("setpriv");
    if (::geteuid() != 0 || setpriv.isEmpty())
        QSKIP("needs root and setpriv to run as another user");
    const QString a = archive("a.big", makeBig(sampleEntries()));
    QVERIFY(QDir().mkpath(path("out")));
    QVERIFY(::chmod(qPrintable(dir->path()), 0755) == 0);
    QVERIFY(::chown(qPrintable(path("out")), 65534, 65534) == 0);
    QProcess process;
    process.start(setpriv, {"--reuid=65534", "--regid=65534", "--clear-groups", VORLAND_CLI,
                            "extract", a, "-o", path("out")});
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.readAllStandardError(), QByteArray());
    QCOMPARE(process.exitCode(), 0);
    for (const SampleEntry &entry : sampleEntries()) {
        const QString name = QString::fromLatin1(entry.path).replace('\\', '/');
        QCOMPARE(read("out/" + name), entry.data);
        QCOMPARE(QFileInfo(path("out/" + name)).ownerId(), 65534u);
    }
#endif
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
