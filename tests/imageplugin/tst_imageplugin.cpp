// The TPI image plug-in, as other programs meet it: tpiread uses nothing but
// QImageReader, with the build's plug-in folder on QT_PLUGIN_PATH. The TPI
// files are written by vorland-cli convert, and render says what their
// pixels are.

#include "resourcelimits.h"

#include <QImage>
#include <QProcess>
#include <QtTest>

class TestImagePlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reads_data();
    void reads();

private:
    QString path(const QString &name) const { return dir.filePath(name); }
    int run(const QString &program, const QStringList &arguments, QByteArray *out = nullptr);
    QTemporaryDir dir;
};

int TestImagePlugin::run(const QString &program, const QStringList &arguments, QByteArray *out)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_PLUGIN_PATH", VORLAND_PLUGINS);
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    if (out)
        *out = process.readAllStandardOutput() + process.readAllStandardError();
    return process.exitCode();
}

void TestImagePlugin::initTestCase()
{
    QVERIFY(dir.isValid());
    // A picture with every alpha, made by Qt, written as TPI by convert.
    QImage picture(45, 29, QImage::Format_ARGB32);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 45; ++x)
            picture.setPixel(x, y, qRgba(x * 5, y * 8, (x * y) % 256, (x * 11 + y * 3) % 256));
    QVERIFY(picture.save(path("source.png")));
    const QString cli = VORLAND_CLI;
    QCOMPARE(run(cli, {"convert", path("source.png"), path("plain.tpi")}), 0);
    QCOMPARE(run(cli, {"convert", path("source.png"), path("packed.tpi"), "--format", "DXT5",
                       "--tile", "16", "--compress"}),
             0);
    QCOMPARE(run(cli, {"render", path("plain.tpi"), "-o", path("plain.png")}), 0);
    QCOMPARE(run(cli, {"render", path("packed.tpi"), "-o", path("packed.png")}), 0);
    QVERIFY(QFile::copy(path("plain.tpi"), path("misnamed.png")));
    QFile plain(path("plain.tpi"));
    QVERIFY(plain.open(QIODevice::ReadOnly));
    QFile damaged(path("damaged.tpi"));
    QVERIFY(damaged.open(QIODevice::WriteOnly));
    damaged.write(plain.read(19));
    damaged.close();
    QFile hostile(path("hostile.tpi"));
    QVERIFY(hostile.open(QIODevice::WriteOnly));
    // 16384 x 16384 pixels claimed by a 20-byte header with one tiny block.
    hostile.write(QByteArray("1IPT8888\0\0\0\0\0\x40\0\x40\x01\0\0\0", 20) +
                  QByteArray("\x18\0\0\0\x7D\0\0\0\x01\0\x01\0", 12) + QByteArray(12, '\0'));
    hostile.close();
    QFile cut(path("cut.tpi"));
    QVERIFY(plain.seek(0) && cut.open(QIODevice::WriteOnly));
    cut.write(plain.read(1000));
    cut.close();
    QFile headerOnly(path("header.tpi"));
    QVERIFY(plain.seek(0) && headerOnly.open(QIODevice::WriteOnly));
    headerOnly.write(plain.read(20));
    headerOnly.close();
    // One "compressed" block of garbage whose first 16 bytes unpack to the
    // header of a 16384 x 16384 block, declaring 128 MiB.
    QFile garbage(path("garbage.tpi"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    const QByteArray stream = QByteArray("\x90\xFB\x08\x00\x00\x00\xE3", 7) +
                              QByteArray("\x7D\0\0\0\0\x40\0\x40", 8) + QByteArray(8, '\0') +
                              QByteArray(530000, '\xFF');
    garbage.write(QByteArray("1IPT8888Refp\0\x40\0\x40\x01\0\0\0", 20));
    const quint32 n = quint32(stream.size());
    garbage.write(QByteArray(reinterpret_cast<const char *>(&n), 4) + stream);
    garbage.close();
}

void TestImagePlugin::reads_data()
{
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("status");
    QTest::newRow("plain blocks") << "plain.tpi"
                                  << "plain.png" << 0;
    QTest::newRow("DXT5 tiles, Refp-compressed") << "packed.tpi"
                                                 << "packed.png" << 0;
    QTest::newRow("TPI bytes named .png") << "misnamed.png"
                                          << "plain.png" << 0;
    QTest::newRow("cut short") << "damaged.tpi"
                               << "" << 1;
    QTest::newRow("claims more than its bytes") << "hostile.tpi"
                                                << "" << 1;
    QTest::newRow("cut to 1000 bytes") << "cut.tpi"
                                       << "" << 1;
    QTest::newRow("its header only") << "header.tpi"
                                     << "" << 1;
    QTest::newRow("a garbage block claiming the picture") << "garbage.tpi"
                                                          << "" << 1;
}

void TestImagePlugin::reads()
{
    QFETCH(QString, image);
    QFETCH(QString, expected);
    QFETCH(int, status);
    QStringList arguments{path(image)};
    if (!expected.isEmpty())
        arguments << path(expected);
    QByteArray out;
    QString program = VORLAND_TPIREAD;
#ifndef VORLAND_SANITIZE
    // Any Qt program reads whatever lands in a folder: within 256 MiB of heap,
    // and a CPU guard that only ends a runaway reader. The sanitizers need
    // more room.
    underLimits(program, arguments, {"--data=268435456", "--cpu=20"});
#endif
    QCOMPARE(run(program, arguments, &out), status);
    QVERIFY2(out.contains(" tpi"), out.constData());
    if (status == 0) {
        // Read by content as "tpi", its size announced before reading, and
        // the pixels exactly as render gives them, in Format_ARGB32.
        QVERIFY2(out.contains("read: tpi 45x29 (announced 45x29) format 5"), out.constData());
    } else {
        QVERIFY2(out.contains("error: ") && !out.contains("error: \n"), out.constData());
        // Nothing of the decoder's own messages reaches the host's output.
        QVERIFY2(!out.contains("TPI file"), out.constData());
    }
}

QTEST_GUILESS_MAIN(TestImagePlugin)
#include "tst_imageplugin.moc"
