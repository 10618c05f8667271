// vorland-cli mount, through the kernel: an archive made by our own writer
// (plain and whole-file compressed, a compressed entry, nested folders, a
// name taken twice and a refused name) read back file by file against
// vorland-cli cat, then unmounted; three archives mounted as one; and a
// mount in the foreground ended by a signal, as Ctrl+C does. Without FUSE
// it is skipped, saying why.

#include "bigbuilder.h"
#include "clirunner.h"
#include "testdata.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

class TestMount : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mounted_data();
    void mounted();
    void overlaid_data();
    void overlaid();
    void aSignalUnmounts_data();
    void aSignalUnmounts();
};

namespace {

const QByteArray text = testdata::text(30000);
const QByteArray noise = testdata::randomBytes(300000, 9);

bool isMounted(const QString &point)
{
    QFile mounts("/proc/mounts");
    return mounts.open(QIODevice::ReadOnly) &&
           mounts.readAll().contains(" " + QFile::encodeName(point) + " ");
}

// Unmounts whatever happens to the test.
struct Mounted
{
    QString point;
    ~Mounted()
    {
        if (!point.isEmpty() && isMounted(point))
            QProcess::execute("fusermount3", {"-u", point});
    }
};

} // namespace

void TestMount::initTestCase()
{
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0)
        QSKIP(qPrintable(QString("FUSE is not available here: /dev/fuse: %1")
                             .arg(QString::fromLocal8Bit(strerror(errno)))));
    ::close(fuse);
    if (QStandardPaths::findExecutable("fusermount3").isEmpty())
        QSKIP("FUSE is not available here: fusermount3 is not installed (Debian package fuse3)");
}

void TestMount::mounted_data()
{
    QTest::addColumn<bool>("whole");
    QTest::addColumn<bool>("raw");
    QTest::newRow("plain") << false << false;
    QTest::newRow("plain, --raw") << false << true;
    QTest::newRow("whole-file compressed") << true << false;
}

void TestMount::mounted()
{
    QFETCH(bool, whole);
    QFETCH(bool, raw);
    QTemporaryDir dir;
    const QByteArray plain = makeBig({{"data\\notes.txt", text, true},
                                      {"data\\art\\logo.tga", "TGA bytes"},
                                      {"a\\b", "in a folder"},
                                      {"a", "a file named like the folder"},
                                      {"dup.ini", "first"},
                                      {"dup.ini", "second"},
                                      {"..\\evil", "refused"},
                                      {"big.bin", noise}});
    const QString archive = dir.filePath("m.big");
    QVERIFY(writeFile(archive, whole ? refpCompress(plain) : plain));
    const QString point = dir.filePath("mnt");
    QVERIFY(QDir().mkpath(point));

    Mounted guard{point};
    QStringList arguments{"mount", archive, point};
    if (raw)
        arguments << "--raw";
    const CliRun mount = runCli(arguments);
    QVERIFY2(mount.exitCode == 0, mount.err.constData());
    QVERIFY(isMounted(point));
    // One warning for each name given up or changed.
    QCOMPARE(mount.err.count('\n'), 3);
    QVERIFY(mount.err.contains("left out ..\\evil"));
    QVERIFY(mount.err.contains("a is shown as a~1"));
    QVERIFY(mount.err.contains("dup.ini is shown as dup.ini~1"));

    // Directory order, folders first.
    QCOMPARE(QDir(point).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Unsorted),
             (QStringList{"data", "a", "a~1", "dup.ini", "dup.ini~1", "big.bin"}));
    const QList<QPair<QString, QByteArray>> files{
        {"data/notes.txt", raw ? refpCompress(text) : text},
        {"data/art/logo.tga", "TGA bytes"},
        {"a/b", "in a folder"},
        {"a~1", "a file named like the folder"},
        {"dup.ini", "first"},
        {"dup.ini~1", "second"},
        {"big.bin", noise}};
    for (const auto &file : files) {
        const QString path = point + "/" + file.first;
        QFileInfo info(path);
        QCOMPARE(info.size(), qint64(file.second.size()));
        QCOMPARE(int(info.permissions() & 0x7777), int(0x4444));
        QCOMPARE(info.ownerId(), ::getuid());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY2(f.readAll() == file.second, qPrintable(file.first));
    }
    // Each file is what cat gives for its entry.
    QVERIFY(runCli({"cat", archive, "data/notes.txt"}).out == text);
    QCOMPARE(int(QFileInfo(point + "/data").permissions() & 0x7777), int(0x5555));

    // Reads at odd places and of odd sizes, from two threads' worth of reads.
    const int fd = ::open(QFile::encodeName(point + "/big.bin").constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    for (const auto &[offset, size] : {std::pair<int, int>{12345, 777},
                                       {299999, 10},
                                       {131071, 131074},
                                       {300000, 5},
                                       {1, 299999}}) {
        QByteArray got(size, '\0');
        const ssize_t n = ::pread(fd, got.data(), size_t(size), offset);
        QCOMPARE(int(n), qMin(size, qMax(0, 300000 - offset)));
        QVERIFY(got.left(int(n)) == noise.mid(offset, int(n)));
    }
    ::close(fd);

    // Nothing can change it.
    errno = 0;
    QCOMPARE(::open(QFile::encodeName(point + "/dup.ini").constData(), O_WRONLY), -1);
    QCOMPARE(errno, EROFS);
    errno = 0;
    QCOMPARE(::open(QFile::encodeName(point + "/new").constData(), O_WRONLY | O_CREAT, 0644), -1);
    QCOMPARE(errno, EROFS);
    errno = 0;
    QCOMPARE(::rename(QFile::encodeName(point + "/dup.ini").constData(),
                      QFile::encodeName(point + "/moved").constData()),
             -1);
    QCOMPARE(errno, EROFS);

    QCOMPARE(QProcess::execute("fusermount3", {"-u", point}), 0);
    QVERIFY(!isMounted(point));
}

void TestMount::overlaid_data()
{
    QTest::addColumn<bool>("firstWins");
    QTest::addColumn<QByteArray>("weapon");
    QTest::addColumn<QString>("weaponFrom");
    QTest::newRow("the later wins") << false << text << "c.big";
    QTest::newRow("--first-wins") << true << QByteArray("base") << "a.big";
}

// Three archives as one tree: the winner's bytes, where each file comes
// from, a name one archive spells so that it is refused while another's is
// fine, and an archive that shrinks while mounted.
void TestMount::overlaid()
{
    QFETCH(bool, firstWins);
    QFETCH(QByteArray, weapon);
    QFETCH(QString, weaponFrom);
    QTemporaryDir dir;
    const QList<QPair<QString, QByteArray>> archives{
        {"a.big", makeBig({{"data\\ini\\weapon.ini", "base"},
                           {"data\\art\\logo.tga", noise},
                           {"data\\art\\sky.tga", noise}})},
        {"b.big", makeBig({{"Data\\INI\\Weapon.ini", "mod b", true}, {"data\\ini\\x.ini", "x"}})},
        {"c.big", makeBig({{"DATA\\ini\\WEAPON.INI", text, true}, {"data\\ini/x.ini", "c's x"}})}};
    QStringList arguments{"mount"};
    if (firstWins)
        arguments << "--first-wins";
    for (const auto &archive : archives) {
        QVERIFY(writeFile(dir.filePath(archive.first), archive.second));
        arguments << dir.filePath(archive.first);
    }
    const QString point = dir.filePath("mnt");
    QVERIFY(QDir().mkpath(point));
    Mounted guard{point};
    // One archive that cannot be read and nothing is mounted.
    QStringList missing = arguments;
    missing.insert(missing.size() - 1, dir.filePath("missing.big"));
    const CliRun refused = runCli(missing << point);
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(refused.err.startsWith("vorland-cli: cannot read "), refused.err.constData());
    QVERIFY(!isMounted(point));

    const CliRun mount = runCli(arguments << point);
    QVERIFY2(mount.exitCode == 0, mount.err.constData());
    QCOMPARE(mount.err.count('\n'), 1);
    QVERIFY(mount.err.contains("c.big: left out data\\ini/x.ini: extract would refuse its name"));

    QCOMPARE(QDir(point + "/data/ini").entryList(QDir::Files, QDir::Name),
             (QStringList{firstWins ? "weapon.ini" : "WEAPON.INI", "x.ini"}));
    const QList<std::tuple<QString, QByteArray, QString>> files{
        {firstWins ? "data/ini/weapon.ini" : "data/ini/WEAPON.INI", weapon, weaponFrom},
        {"data/ini/x.ini", "x", "b.big"},
        {"data/art/logo.tga", noise, "a.big"}};
    for (const auto &[name, bytes, from] : files) {
        const QString path = point + "/" + name;
        QFile f(path);
        QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(name));
        QVERIFY2(f.readAll() == bytes, qPrintable(name));
        char origin[4096];
        const ssize_t n = ::getxattr(QFile::encodeName(path).constData(), "user.vorland.archive",
                                     origin, sizeof origin);
        QCOMPARE(QByteArray(origin, int(qMax<ssize_t>(n, 0))),
                 QFile::encodeName(QFileInfo(dir.filePath(from)).absoluteFilePath()));
    }
    errno = 0;
    char none[16];
    QCOMPARE(::getxattr(QFile::encodeName(point + "/data").constData(), "user.vorland.archive",
                        none, sizeof none),
             ssize_t(-1));
    QCOMPARE(errno, ENODATA);

    // The pictures' archive loses its end: reading one not read yet fails,
    // not short.
    QVERIFY(QFile::resize(dir.filePath("a.big"), 1000));
    QFile logo(point + "/data/art/sky.tga");
    QVERIFY(logo.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    QByteArray out(int(noise.size()), '\0');
    errno = 0;
    QCOMPARE(::read(logo.handle(), out.data(), size_t(out.size())), ssize_t(-1));
    QCOMPARE(errno, EIO);
    logo.close();
    QCOMPARE(QProcess::execute("fusermount3", {"-u", point}), 0);
}

void TestMount::aSignalUnmounts_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT (Ctrl+C)") << SIGINT;
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGHUP") << SIGHUP;
}

// The server unmounts and exits 0, leaving no dead mount behind.
void TestMount::aSignalUnmounts()
{
    QFETCH(int, signal);
    QTemporaryDir dir;
    const QString archive = dir.filePath("s.big");
    QVERIFY(writeFile(archive, makeBig({{"data\\a.txt", "a"}, {"b.txt", "b"}})));
    const QString point = dir.filePath("mnt");
    QVERIFY(QDir().mkpath(point));
    Mounted guard{point};
    QProcess server;
    QVERIFY(startProcess(server, VORLAND_CLI, {"mount", "-f", archive, point}));
    QTRY_VERIFY(isMounted(point) && QFileInfo(point + "/data/a.txt").exists());
    ::kill(pid_t(server.processId()), signal);
    QVERIFY(server.waitForFinished(10000));
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY(!isMounted(point));
}

QTEST_GUILESS_MAIN(TestMount)
#include "tst_mount.moc"
