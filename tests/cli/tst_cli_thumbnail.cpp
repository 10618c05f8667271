// The thumbnailer entry's own command line, run as a file manager runs it:
// Exec with %s, %i and %o filled in and vorland-cli found on PATH. And the
// entry as a real thumbnail service uses it: tumbler, asked over D-Bus on a
// private session bus, writes its thumbnails into its cache.

#include "bigbuilder.h"
#include "samplefiles.h"
#include "testdata.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

class TestCliThumbnail : public QObject
{
    Q_OBJECT

private slots:
    void thumbnails_data();
    void thumbnails();
    void throughTumbler();
};

namespace {

// Red on the left, blue on the right, a half-transparent band at the bottom.
QImage halves(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                           y >= height * 7 / 8 ? qRgba(0, 255, 0, 128)
                           : x < width / 2     ? qRgba(255, 0, 0, 255)
                                               : qRgba(0, 0, 255, 255));
    return image;
}

} // namespace

void TestCliThumbnail::thumbnails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("size");
    QTest::addColumn<QSize>("expected"); // empty: no thumbnail
    const QImage wide = halves(400, 100), small = halves(40, 24);
    QTest::newRow("TPI") << "a.tpi" << makeTpi(400, 100, {{0x7D, 400, 100, testdata::bgra(wide)}})
                         << 128 << QSize(128, 32);
    QTest::newRow("TGA, not enlarged")
        << "b.tga" << makeTga(2, 32, 40, 24, 0x28, tgaPixels(small, 32, true)) << 128
        << QSize(40, 24);
    QTest::newRow("archive: its first picture, compressed")
        << "c.big"
        << makeBig({{"readme.ini", "x"},
                    {"art\\broken.png", "not a png"},
                    {"art\\wide.png", makePng(wide, {6}), true},
                    {"art\\other.tga", makeTga(2, 32, 40, 24, 0x28, tgaPixels(small, 32, true))}})
        << 256 << QSize(256, 64);
    QTest::newRow("archive without pictures")
        << "d.big" << makeBig({{"readme.ini", "x"}, {"data.bin", "y"}}) << 256 << QSize();
    QImage narrow(1, 5000, QImage::Format_ARGB32);
    narrow.fill(Qt::red);
    QTest::newRow("too narrow for any thumbnail")
        << "n.png" << makePng(narrow, {6}) << 256 << QSize();
    QTest::newRow("not a picture")
        << "e.tpi" << QByteArray("1IPT but nothing else") << 256 << QSize();
}

void TestCliThumbnail::thumbnails()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(int, size);
    QFETCH(QSize, expected);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(name), bytes));

    QFile entry(QStringLiteral(VORLAND_THUMBNAILER));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    QString exec;
    for (const QByteArray &line : entry.readAll().split('\n'))
        if (line.startsWith("Exec="))
            exec = QString::fromUtf8(line.mid(5));
    QStringList command = exec.split(' ', Qt::SkipEmptyParts);
    QVERIFY(command.size() > 1);
    const QString out = dir.filePath("thumb.png");
    command.replaceInStrings("%s", QString::number(size));
    command.replaceInStrings("%i", dir.filePath(name));
    command.replaceInStrings("%o", out);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("PATH", QStringLiteral(VORLAND_BIN) + ":" + environment.value("PATH"));
    process.setProcessEnvironment(environment);
    // Found on PATH, as a file manager finds it.
    process.setProgram(
        QStandardPaths::findExecutable(command.takeFirst(), environment.value("PATH").split(':')));
    process.setArguments(command);
    process.start();
    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    if (expected.isEmpty()) {
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(!QFile::exists(out));
        return;
    }
    QVERIFY2(process.exitCode() == 0, err.constData());
    const QImage thumb(out);
    QCOMPARE(thumb.size(), expected);
    const int w = thumb.width(), h = thumb.height();
    QCOMPARE(thumb.pixel(w / 4, h / 4), qRgba(255, 0, 0, 255));
    QCOMPARE(thumb.pixel(w * 3 / 4, h / 4), qRgba(0, 0, 255, 255));
    QCOMPARE(qAlpha(thumb.pixel(w / 2, h - 1)), 128);
}

void TestCliThumbnail::throughTumbler()
{
    const QString tumblerd = QStringLiteral("/usr/lib/x86_64-linux-gnu/tumbler-1/tumblerd");
    for (const QString &tool : {QStringLiteral("dbus-run-session"), QStringLiteral("gdbus")})
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + " is not installed (packages dbus-daemon, libglib2.0-bin)"));
    if (!QFileInfo(tumblerd).isExecutable())
        QSKIP("tumbler is not installed");
    QTemporaryDir dir;
    // The thumbnailer entry, pointing at this build, where tumbler looks.
    QFile entry(QStringLiteral(VORLAND_THUMBNAILER));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QByteArray cli = QByteArray(VORLAND_BIN) + "/vorland-cli";
    QVERIFY(QDir().mkpath(dir.filePath("data/thumbnailers")));
    QVERIFY(writeFile(dir.filePath("data/thumbnailers/vorland.thumbnailer"),
                      entry.readAll()
                          .replace("TryExec=vorland-cli", "TryExec=" + cli)
                          .replace("Exec=vorland-cli", "Exec=" + cli)));
    const QImage wide = halves(400, 100);
    const QByteArray tpi = makeTpi(400, 100, {{0x7D, 400, 100, testdata::bgra(wide)}});
    QVERIFY(writeFile(dir.filePath("p.tpi"), tpi));
    QVERIFY(writeFile(dir.filePath("a.big"), makeBig({{"art\\p.tpi", tpi, true}})));
    const QString uris = QStringLiteral("['file://%1', 'file://%2']")
                             .arg(dir.filePath("p.tpi"), dir.filePath("a.big"));
    // tumblerd logs when it has finished the job: that is what is waited
    // for (the time-out only ends a service that hangs).
    const QString script = QStringLiteral(
        "export XDG_DATA_DIRS=\"$0/data:/usr/share\" XDG_CACHE_HOME=\"$0/cache\" "
        "G_MESSAGES_DEBUG=all\n"
        "\"$1\" > \"$0/tumblerd.log\" 2>&1 & service=$!\n"
        "gdbus wait --session --timeout 30 org.freedesktop.thumbnails.Thumbnailer1 || exit 3\n"
        "gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 "
        "--object-path /org/freedesktop/thumbnails/Thumbnailer1 "
        "--method org.freedesktop.thumbnails.Thumbnailer1.Queue \"$2\" "
        "\"['image/x-vorland-tpi', 'application/x-vorland-big']\" normal default 0 || exit 4\n"
        "timeout 60 tail -n +1 -f \"$0/tumblerd.log\" | grep -q -m1 'Finishing job'\n"
        "kill $service\n");
    QProcess process;
    process.start("dbus-run-session", {"--", "sh", "-c", script, dir.path(), tumblerd, uris});
    QVERIFY(process.waitForFinished(120000));
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());
    for (const QString &name : {QStringLiteral("p.tpi"), QStringLiteral("a.big")}) {
        const QByteArray uri = "file://" + QFile::encodeName(dir.filePath(name));
        const QString thumb =
            dir.filePath("cache/thumbnails/normal/" +
                         QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex() + ".png");
        const QImage image(thumb);
        QVERIFY2(!image.isNull(), qPrintable(thumb + " was not written"));
        QCOMPARE(image.size(), QSize(128, 32));
    }
}

QTEST_GUILESS_MAIN(TestCliThumbnail)
#include "tst_cli_thumbnail.moc"
