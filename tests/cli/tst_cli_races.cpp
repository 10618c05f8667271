// vorland-cli while another process changes its files: a file rewritten in
// part while pack or add compresses it, and an archive renamed over the
// one that add is replacing. Nothing is lost, and nothing that changed is
// reported as success.

#include "bigbuilder.h"
#include "clirunner.h"
#include "testdata.h"

#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <thread>

class TestCliRaces : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rewrittenWhileCompressed_data();
    void rewrittenWhileCompressed();
    void archiveRenamedOverAnEdit();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestCliRaces::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliRaces::rewrittenWhileCompressed_data()
{
    QTest::addColumn<bool>("add");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("threads");
    for (bool add : {false, true})
        for (int level = 1; level <= 3; ++level)
            for (int threads = 1; threads <= 2; ++threads)
                QTest::addRow("%s, level %d, %d threads", add ? "add" : "pack", level, threads)
                    << add << level << threads;
}

void TestCliRaces::rewrittenWhileCompressed()
{
    // A file compressed in parts of 4 MiB, whose last 128 KiB before the
    // second part are rewritten over and over, with one version or another,
    // while it is read. The rest of the file repeats the first version, so
    // that the second part matches against that region, and never changes:
    // it must come back exactly, and the change must be reported. Without
    // the check of each part's history, a row fails about every other run.
    QFETCH(bool, add);
    QFETCH(int, level);
    QFETCH(int, threads);
    const int region = 128 << 10, regionStart = (4 << 20) - region, size = 9 << 20;
    // The second version is the first shifted by a few bytes: the second
    // part finds its matches in the region whichever version it read, at
    // distances that give other bytes in the other version.
    const QByteArray block = testdata::randomBytes(32 << 10, 1);
    const QByteArray first = block.repeated(4), second = (block.mid(7) + block.left(7)).repeated(4);
    QByteArray bytes = testdata::text(regionStart, 3);
    while (bytes.size() < size)
        bytes += first;
    bytes.truncate(size);
    QVERIFY(QDir().mkpath(path("in")));
    QVERIFY(writeFile(path("in/f"), bytes));

    QFile file(path("in/f"));
    QVERIFY(file.open(QIODevice::ReadWrite | QIODevice::Unbuffered));
    std::atomic<bool> stop{false};
    std::atomic<int> writes{0};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); ++i) {
            file.seek(regionStart);
            file.write(i % 2 ? first : second);
            writes.fetch_add(1);
        }
    });
    while (writes.load() < 2)
        std::this_thread::yield();
    const QStringList compression{
        "--compress", "--level", QString::number(level), "--threads", QString::number(threads),
        "-q"};
    CliRun run;
    if (add) {
        writeFile(path("a.big"), makeBig({{"kept", "as it was"}}));
        run = runCli(QStringList{"add", path("a.big"), "-C", path("in"), "f"} + compression);
    } else {
        run = runCli(QStringList{"pack", path("in"), "-o", path("a.big")} + compression);
    }
    stop.store(true);
    writer.join();

    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("in/f changed while it was read"), run.err.constData());
    const CliRun back = runCli({"cat", path("a.big"), "f"});
    QCOMPARE(back.exitCode, 0);
    QCOMPARE(back.out.size(), size);
    QVERIFY2(back.out.left(regionStart) == bytes.left(regionStart), "before the region");
    QVERIFY2(back.out.mid(regionStart + region) == bytes.mid(regionStart + region),
             "after the region, untouched");
    if (add)
        QCOMPARE(runCli({"cat", path("a.big"), "kept"}).out, QByteArray("as it was"));
}

void TestCliRaces::archiveRenamedOverAnEdit()
{
    // Another program renames its own archive over the path while add is
    // replacing it, at the moment add has written all of the new archive.
    // add either fails, writing nothing, or ran wholly before or after:
    // the other archive is never lost.
#if defined(Q_OS_WIN)
    const int rounds = 30; // a process start costs more under Wine
#else
    const int rounds = 100;
#endif
    const QString archive = path("a.big"), theirs = path("theirs.big");
    const QByteArray ours = makeBig({{"ours", testdata::randomBytes(256 << 10, 5)}});
    QVERIFY(writeFile(path("small.txt"), "small"));
    // The size of the edited archive, at which add is about to commit.
    QVERIFY(writeFile(archive, ours));
    QCOMPARE(runCli({"add", archive, "small.txt", "-C", dir->path(), "-q"}).exitCode, 0);
    const qint64 finished = QFileInfo(archive).size();
    int failed = 0;
    for (int round = 0; round < rounds; ++round) {
        QVERIFY(writeFile(archive, ours));
        QVERIFY(writeFile(theirs, makeBig({{"theirs", "their own"}})));
        QProcess add;
        QVERIFY(
            startProcess(add, VORLAND_CLI, {"add", archive, "small.txt", "-C", dir->path(), "-q"}));
        // The rename lands at once, once the new archive is begun, or once
        // it has its full size, just before add commits it.
        const int lateness = QRandomGenerator::global()->bounded(3);
        bool renamed = false;
        while (!renamed && !add.waitForFinished(0)) {
            const QStringList parts =
                QDir(dir->path()).entryList({".vorland-*"}, QDir::Files | QDir::Hidden);
            const bool begun = !parts.isEmpty();
            if (lateness == 0 || (lateness == 1 && begun) ||
                (begun && QFileInfo(path(parts[0])).size() >= finished))
                renamed = renameOver(theirs, archive);
        }
        add.waitForFinished(60000);
        if (!renamed)
            QVERIFY(renameOver(theirs, archive)); // after it, then
        const QByteArray err = add.readAllStandardError();
        if (add.exitCode() != 0) {
            ++failed;
            QVERIFY2(err.contains("nothing was written"), err.constData());
        }
        const CliRun listed = runCli({"list", archive});
        QVERIFY2(listed.out.contains("theirs"),
                 qPrintable(QStringLiteral("round %1: their archive is lost (add exited %2)")
                                .arg(round)
                                .arg(add.exitCode())));
    }
    qInfo("%d of %d edits failed, writing nothing", failed, rounds);
}

QTEST_GUILESS_MAIN(TestCliRaces)
#include "tst_cli_races.moc"
