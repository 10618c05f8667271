// vorland-cli among other processes: two edits of one archive at once, an
// archive locked by someone else, outputs that are streams or files the
// caller holds open, the archive's owner and mode, temporary files of a
// killed process, and refusals that must come before anything is written.

#include "bigbuilder.h"
#include "clirunner.h"
#include "heldfile.h"
#include "resourcelimits.h"
#include "testdata.h"

#include <QProcess>
#include <QtTest>

#if !defined(Q_OS_WIN)
#include <sys/stat.h>
#include <unistd.h>
#endif

class TestCliSharedFiles : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void twoEditsAtOnce();
    void lockedArchiveIsLeftAlone();
    void outputsWrittenThrough_data();
    void outputsWrittenThrough();
    void pipeCannotTakeAnArchive();
    void ownerAndModeAreKept();
    void leftOverTemporariesGo();
    void tooLargeIsRefusedFirst();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    QByteArray read(const QString &name) const
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    std::unique_ptr<QTemporaryDir> dir;
};

namespace {

const QByteArray busy = "is being changed by another vorland-cli; nothing was written";

QProcess *startCli(const QStringList &arguments, const QString &folder, QObject *parent)
{
    auto *process = new QProcess(parent);
    process->setWorkingDirectory(folder);
    startProcess(*process, QStringLiteral(VORLAND_CLI), arguments);
    return process;
}

} // namespace

void TestCliSharedFiles::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliSharedFiles::twoEditsAtOnce()
{
    // Whichever edit locks the archive first, the other waits for nothing:
    // it fails with a message, or runs after it; no change is ever lost.
    QDir().mkpath(path("many"));
    // Enough files that the add is still running when the rename starts;
    // under Wine every file costs more, so fewer do.
#if defined(Q_OS_WIN)
    const int files = 1000;
#else
    const int files = 10000;
#endif
    for (int i = 0; i < files; ++i)
        QVERIFY(writeFile(path("many/%1.txt").arg(i), QByteArray::number(i)));
    for (int round = 0; round < 2; ++round) {
        const QString archive = path("r.big");
        QVERIFY(writeFile(archive, makeBig({{"one.txt", "first"}, {"two.txt", "second"}})));
        QObject owner;
        QProcess *add =
            startCli({"add", archive, "many", "--prefix", "m", "-q"}, dir->path(), &owner);
        QProcess *rename =
            startCli({"rename", archive, "one.txt", "other-name.txt"}, dir->path(), &owner);
        QVERIFY(add->waitForFinished(120000) && rename->waitForFinished(120000));
        const QByteArray addErr = add->readAllStandardError(),
                         renameErr = rename->readAllStandardError();
        const bool added = add->exitCode() == 0, renamed = rename->exitCode() == 0;
        QVERIFY2(added || addErr.contains(busy), addErr);
        QVERIFY2(renamed || renameErr.contains(busy), renameErr);

        QDir(path("out")).removeRecursively();
        const CliRun extracted = runCli({"extract", archive, "-o", path("out")});
        QVERIFY2(extracted.exitCode == 0, extracted.err);
        QCOMPARE(read(renamed ? "out/other-name.txt" : "out/one.txt"), QByteArray("first"));
        QCOMPARE(QFile::exists(path("out/one.txt")), !renamed);
        QCOMPARE(read("out/two.txt"), QByteArray("second"));
        QCOMPARE(QFileInfo::exists(path("out/m")), added);
        if (added) {
            QCOMPARE(QDir(path("out/m/many")).count(), uint(files + 2));
            for (int i : {0, files / 2 + 34, files - 1})
                QCOMPARE(read(QStringLiteral("out/m/many/%1.txt").arg(i)), QByteArray::number(i));
        }
    }
}

void TestCliSharedFiles::lockedArchiveIsLeftAlone()
{
    const QString archive = path("l.big");
    const QByteArray bytes = makeBig({{"a", "1"}, {"b", "2"}});
    QVERIFY(writeFile(archive, bytes));
    auto held = std::make_unique<HeldFile>();
    QVERIFY(held->open(archive));
    QCOMPARE(held->lockExclusive(), HeldFile::Lock::Taken);
    for (const QStringList &edit :
         {QStringList{"remove", archive, "a"}, QStringList{"rename", archive, "a", "c"},
          QStringList{"add", archive, archive, "--as", "x"}}) {
        const CliRun result = runCli(edit);
        QCOMPARE(result.exitCode, 1);
        QCOMPARE(result.err, "vorland-cli: " + archive.toUtf8() + " " + busy + "\n");
    }
    held.reset();
    QCOMPARE(read("l.big"), bytes);
    QCOMPARE(runCli({"remove", archive, "a"}).exitCode, 0);
}

void TestCliSharedFiles::outputsWrittenThrough_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("/proc/self/fd/1 of a file") << "fd";
    QTest::newRow("a FIFO") << "fifo";
    QTest::newRow("/dev/stdout in a private /dev") << "devstdout";
    QTest::newRow("a thumbnail the caller holds open") << "held";
}

void TestCliSharedFiles::outputsWrittenThrough()
{
    QFETCH(QString, kind);
#if defined(Q_OS_WIN)
    if (kind != "held")
        QSKIP("/proc, FIFOs and /dev are POSIX's");
#endif
    QImage image(5, 3, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QVERIFY(image.save(path("in.png")));
    const QStringList convert{"convert", path("in.png")};
    QProcess process;
    QByteArray png;
    if (kind == "fd" || kind == "devstdout") {
        process.setStandardOutputFile(path("out.png"));
        if (kind == "fd") {
            QVERIFY(startProcess(process, VORLAND_CLI,
                                 convert + QStringList{"/proc/self/fd/1", "--to", "png"}));
        } else {
#if !defined(Q_OS_WIN)
            if (::geteuid() != 0)
                QSKIP("a private /dev needs root");
#endif
            // /dev/stdout is a link to /proc/self/fd/1, which is out.png.
            process.start("unshare",
                          {"--mount", "--propagation", "private", "sh", "-c",
                           "mount -t tmpfs none /dev && ln -s /proc/self/fd/1 /dev/stdout && "
                           "exec \"$@\" && exit 1",
                           "sh", VORLAND_CLI, "convert", path("in.png"), "/dev/stdout", "--to",
                           "png"});
        }
        QVERIFY(process.waitForFinished(60000));
        if (kind == "devstdout" && process.exitCode() != 0 &&
            process.readAllStandardError().contains("unshare"))
            QSKIP("no private mount namespace here");
        QCOMPARE(process.exitCode(), 0);
        png = read("out.png");
    } else if (kind == "fifo") {
#if !defined(Q_OS_WIN)
        QVERIFY(::mkfifo(qPrintable(path("pipe")), 0600) == 0);
#endif
        QProcess reader;
        reader.start("cat", {path("pipe")});
        QVERIFY(reader.waitForStarted());
        QCOMPARE(runCli(convert + QStringList{path("pipe"), "--to", "png"}).exitCode, 0);
        QVERIFY(reader.waitForFinished(60000));
        png = reader.readAllStandardOutput();
        QVERIFY(QFileInfo(path("pipe")).isFile() == false);
    } else {
        // As thumbnail services do: create the file, keep it open, read back.
        QFile held(path("thumb.png"));
        QVERIFY(held.open(QIODevice::ReadWrite));
        QCOMPARE(runCli({"thumbnail", path("in.png"), path("thumb.png")}).exitCode, 0);
        QVERIFY(held.seek(0));
        png = held.readAll();
    }
    QImage back;
    QVERIFY(back.loadFromData(png, "PNG"));
    QCOMPARE(back.size(), QSize(5, 3));
}

void TestCliSharedFiles::pipeCannotTakeAnArchive()
{
#if defined(Q_OS_WIN)
    QSKIP("/dev/stdout is POSIX's");
#endif
    const QString archive = path("p.big");
    QVERIFY(writeFile(archive, makeBig({{"a", "1"}})));
    QVERIFY(writeFile(path("x"), "x"));
    const CliRun result = runCli({"add", archive, path("x"), "--as", "x", "-o", "/dev/stdout"});
    QCOMPARE(result.exitCode, 1);
    QCOMPARE(result.out, QByteArray());
    QVERIFY2(result.err.contains("cannot seek"), result.err);
}

void TestCliSharedFiles::ownerAndModeAreKept()
{
#if defined(Q_OS_WIN)
    QSKIP("owners and modes are POSIX's");
#else
    if (::geteuid() != 0)
        QSKIP("only root can give the archive to another user");
    const QString archive = path("o.big");
    QVERIFY(writeFile(archive, makeBig({{"a", "1"}, {"b", "2"}})));
    QVERIFY(::chown(qPrintable(archive), 65534, 65534) == 0);
    QVERIFY(::chmod(qPrintable(archive), 0640) == 0);
    const CliRun result = runCli({"remove", archive, "a"});
    QCOMPARE(result.exitCode, 0);
    QCOMPARE(result.err, QByteArray());
    struct stat info;
    QVERIFY(::stat(qPrintable(archive), &info) == 0);
    QCOMPARE(info.st_uid, uid_t(65534));
    QCOMPARE(info.st_gid, gid_t(65534));
    QCOMPARE(info.st_mode & 07777, mode_t(0640));
#endif
}

void TestCliSharedFiles::leftOverTemporariesGo()
{
    QDir().mkpath(path("work"));
    QVERIFY(writeFile(path("work/f.txt"), "x"));
    // One of a process that is gone (no process has so high a number), one
    // of a live process (this one), and a file that only looks similar.
    const QString dead = QStringLiteral(".vorland-2147483000-0.part");
    const QString live =
        QStringLiteral(".vorland-%1-0.part").arg(QCoreApplication::applicationPid());
    const QString other = QStringLiteral(".vorland-notes.part");
    for (const QString &name : {dead, live, other})
        QVERIFY(writeFile(path(name), "left over"));
    QCOMPARE(runCli({"pack", path("work"), "-o", path("w.big")}).exitCode, 0);
    QVERIFY(!QFile::exists(path(dead)));
    QVERIFY(QFile::exists(path(live)));
    QVERIFY(QFile::exists(path(other)));
}

void TestCliSharedFiles::tooLargeIsRefusedFirst()
{
    // An archive of almost 4 GiB, sparse: adding to it is refused before a
    // byte is copied, so a file-size limit far below it never comes into play.
    const quint32 size = 0xFFFFF000u;
    const QByteArray head = bigHeader(1, 0, 40) + bigRecord(40, qint32(size), "huge");
    QFile archive(path("huge.big"));
    QVERIFY(archive.open(QIODevice::WriteOnly) && archive.write(head) == head.size());
    QVERIFY(archive.resize(qint64(40) + size));
    archive.close();
    QVERIFY(writeFile(path("more.bin"), QByteArray(8192, 'm')));
    const QStringList add{VORLAND_CLI,      "add",  path("huge.big"),
                          path("more.bin"), "--as", "more.bin"};
    QString program = add.first();
    QStringList arguments = add.mid(1);
    underLimits(program, arguments, {"--fsize=1048576"}); // or refused without one
    QProcess process;
    process.start(program, arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardError().contains("larger than 4 GiB"));
}

QTEST_GUILESS_MAIN(TestCliSharedFiles)
#include "tst_cli_sharedfiles.moc"
