// vorland-cli render: loose images and archive entries to exact RGBA PNGs.

#include "bigbuilder.h"
#include "clirunner.h"
#include "samplefiles.h"

#include <QtTest>

class TestCliRender : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void looseFiles_data();
    void looseFiles();
    void archiveEntry();
    void failures_data();
    void failures();
    void aMissingModuleIsOneLine();

private:
    QString path(const QString &name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

void TestCliRender::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void TestCliRender::looseFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<QByteArray>("info");
    const QImage alpha = patternImage(19, 7, true);
    const QImage opaque = patternImage(19, 7, false);
    QByteArray bgra;
    for (int y = 0; y < 7; ++y)
        bgra += QByteArray(reinterpret_cast<const char *>(alpha.constScanLine(y)), 19 * 4);
    QTest::newRow("PNG with alpha")
        << "a.png" << makePng(alpha, {6}) << alpha << QByteArray("19x7 8888\n");
    QTest::newRow("TGA, upper case name")
        << "B.TGA" << makeTga(2, 24, 19, 7, 0, tgaPixels(opaque, 24, false)) << opaque
        << QByteArray("19x7 888\n");
    QTest::newRow("TPI") << "c.tpi" << makeTpi(19, 7, {{0x7D, 19, 7, bgra}}) << alpha
                         << QByteArray("19x7 8888\n");
    QTest::newRow("TPI named .png, by its content")
        << "d.png" << makeTpi(19, 7, {{0x7D, 19, 7, bgra}}) << alpha << QByteArray("19x7 8888\n");
    const QImage wide = patternImage(40000, 1, false);
    QTest::newRow("TGA 40000 pixels wide")
        << "w.tga" << makeTga(2, 24, 40000, 1, 0x20, tgaPixels(wide, 24, true)) << wide
        << QByteArray("40000x1 888\n");
}

void TestCliRender::looseFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QImage, expected);
    QFETCH(QByteArray, info);
    QVERIFY(writeFile(path(name), bytes));
    const CliRun run = runCli({"render", path(name), "-o", path("out.png")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, info);
    // 8-bit RGBA, not premultiplied: reads back as exactly the pixels.
    QImage written(path("out.png"), "PNG");
    QCOMPARE(written.format(), QImage::Format_ARGB32);
    QCOMPARE(written, expected);
}

void TestCliRender::archiveEntry()
{
    const QImage picture = patternImage(12, 5, true);
    const QString archive = path("a.big");
    QVERIFY(writeFile(archive, makeBig({{"art\\logo.png", makePng(picture, {6}), true}})));
    const CliRun run = runCli({"render", archive, "art/logo.png", "-o", path("logo.png")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("12x5 8888\n"));
    QCOMPARE(QImage(path("logo.png")), picture);
}

void TestCliRender::failures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("info"); // what the header holds, when the decoder ran
    QTest::newRow("not a PNG") << "x.png" << QByteArray("not really")
                               << QByteArray("is not a PNG, TGA or TPI image") << QByteArray();
    QTest::newRow("PNG cut short") << "c.png" << makePng(patternImage(64, 64, false), {2}).left(200)
                                   << QByteArray("Damaged .png file!") << QByteArray("64x64 888\n");
    const QByteArray tpi = makeTpi(4, 2, {{0x7D, 4, 2, QByteArray(32, 'x')}});
    QTest::newRow("TPI cut short")
        << "c.tpi" << tpi.chopped(5) << QByteArray("c.tpi is damaged: block 1 is 5 bytes short")
        << QByteArray("4x2 8888\n");
    QTest::newRow("TPI with its header only")
        << "h.tpi" << tpi.left(20) << QByteArray("damaged: the file ends before block 1 of 1")
        << QByteArray("4x2 8888\n");
    QTest::newRow("TGA cut short") << "c.tga" << makeTga(2, 24, 4, 2, 0, QByteArray(20, 'x'))
                                   << QByteArray("damaged: its pixel data ends after 6 of 8 pixels")
                                   << QByteArray("4x2 888\n");
    QTest::newRow("palette PNG") << "p.png" << makePng(patternImage(4, 4, false), {3})
                                 << QByteArray("Unsupported .png file!")
                                 << QByteArray("4x4 8888\n");
    QTest::newRow("short TGA") << "t.tga" << QByteArray(5, 0) << QByteArray("File is too small")
                               << QByteArray("0x0 UNKNOWN\n");
    QTest::newRow("other extension")
        << "x.bmp" << QByteArray("BM") << QByteArray("not a PNG, TGA or TPI image") << QByteArray();
    QTest::newRow("empty TPI picture")
        << "e.tpi" << makeTpi(0, 0, {}) << QByteArray("holds no pixels") << QByteArray();
}

void TestCliRender::failures()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, info);
    QVERIFY(writeFile(path(name), bytes));
    const CliRun run = runCli({"render", path(name), "-o", path("out.png")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(message), run.err.constData());
    QCOMPARE(run.err.count('\n'), 1);
    // What the header holds is in that line; a refusal writes nothing.
    QVERIFY2(run.err.contains(info.chopped(info.isEmpty() ? 0 : 1)), run.err.constData());
    QCOMPARE(run.out, QByteArray());
    QVERIFY(!QFile::exists(path("out.png")));
}

// An installation without the picture verbs' module: the verb says so in
// one line and fails; nothing is written. The module in the working folder,
// which an empty entry of LD_LIBRARY_PATH names, is not taken instead.
void TestCliRender::aMissingModuleIsOneLine()
{
#if defined(Q_OS_WIN)
    QSKIP("the picture verbs are linked into the program there");
#endif
    const QFileInfo cli(QStringLiteral(VORLAND_CLI));
    QVERIFY(QDir().mkpath(path("bin")));
    for (const QString &file : {cli.fileName(), QStringLiteral("libGfxCore.so")})
        QVERIFY(QFile::copy(cli.dir().filePath(file), path("bin/" + file)));
    QVERIFY(
        QFile::setPermissions(path("bin/" + cli.fileName()), QFile::ReadOwner | QFile::ExeOwner));
    QVERIFY(writeFile(path("in.png"), "not looked at"));
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"), QStringLiteral(":/nonexistent"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(cli.absolutePath());
    QVERIFY(QFile::exists(cli.dir().filePath(QStringLiteral("libvorland-cli-pictures.so"))));
    QVERIFY(startProcess(process, path("bin/" + cli.fileName()),
                         {"render", path("in.png"), "-o", path("out.png")}));
    QVERIFY(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    QCOMPARE(process.exitCode(), 1);
    QVERIFY2(err.contains("cannot load libvorland-cli-pictures.so, which render needs"),
             err.constData());
    QCOMPARE(err.count('\n'), 1);
    QCOMPARE(process.readAllStandardOutput(), QByteArray());
    QVERIFY(!QFile::exists(path("out.png")));
}

QTEST_GUILESS_MAIN(TestCliRender)
#include "tst_cli_render.moc"
