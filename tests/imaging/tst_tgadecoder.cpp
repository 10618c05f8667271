// TgaDecoder: depths, row orders, run-length packets, colour maps, format
// names, refused and cut-short files.

#include "decodewith.h"
#include "samplefiles.h"
#include "tgadecoder.h"

#include <QtTest>

namespace {

DecodeResult decode(const QByteArray &bytes)
{
    return decodeWith<TgaDecoder>(bytes);
}

// Run-length packets over the whole pixel stream, as long as they go (up to
// 128 pixels), crossing row ends: runs of equal pixels, raw packets otherwise.
QByteArray rleEncode(const QByteArray &pixels, int bytes)
{
    const int count = pixels.size() / bytes;
    auto at = [&](int i) { return pixels.mid(i * bytes, bytes); };
    QByteArray out;
    for (int i = 0; i < count;) {
        int run = 1;
        while (i + run < count && run < 128 && at(i + run) == at(i))
            ++run;
        if (run > 1) {
            out += char(0x80 | (run - 1));
            out += at(i);
            i += run;
            continue;
        }
        int raw = 1;
        while (i + raw < count && raw < 128 &&
               (i + raw + 1 >= count || at(i + raw) != at(i + raw + 1)))
            ++raw;
        out += char(raw - 1);
        out += pixels.mid(i * bytes, raw * bytes);
        i += raw;
    }
    return out;
}

// What a pattern looks like after a trip through 16-bit 1-5-5-5 pixels.
QImage quantised16(const QImage &image)
{
    QImage out = image;
    auto five = [](int c) { return (c >> 3) * 255 / 31; };
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const QRgb p = out.pixel(x, y);
            out.setPixel(
                x, y, qRgba(five(qRed(p)), five(qGreen(p)), five(qBlue(p)), qAlpha(p) ? 255 : 0));
        }
    return out;
}

QByteArray pixel16(unsigned v)
{
    return QByteArray() + char(v) + char(v >> 8);
}

} // namespace

class TestTgaDecoder : public QObject
{
    Q_OBJECT

private slots:
    void depthsAndOrders_data();
    void depthsAndOrders();
    void sixteenBitPixels_data();
    void sixteenBitPixels();
    void packets();
    void transparentAlpha();
    void colorMaps();
    void refused_data();
    void refused();
    void cutShort_data();
    void cutShort();
    void sizeCapAndBeforeLoad();
};

void TestTgaDecoder::depthsAndOrders_data()
{
    QTest::addColumn<QByteArray>("tga");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<QString>("format");
    // A picture with runs, so the encoder makes both kinds of packet.
    QImage picture = patternImage(23, 9, true);
    for (int x = 3; x < 23; ++x)
        picture.setPixel(x, 4, picture.pixel(2, 4));
    const QImage opaque = patternImage(23, 9, false);
    for (int depth : {16, 24, 32}) {
        const QImage source = depth == 24 ? opaque : picture;
        const QImage expected = depth == 16 ? quantised16(source) : source;
        const QString name = depth == 16 ? "4444" : depth == 24 ? "888" : "8888";
        for (uint8_t descriptor : {0x00, 0x20, 0x10, 0x30, 0x08}) {
            const bool topDown = descriptor & 0x30;
            const QByteArray pixels = tgaPixels(source, depth, topDown);
            QTest::addRow("%d-bit, descriptor 0x%02x", depth, descriptor)
                << makeTga(2, depth, 23, 9, descriptor, pixels) << expected << name;
            QTest::addRow("%d-bit run-length, descriptor 0x%02x", depth, descriptor)
                << makeTga(10, depth, 23, 9, descriptor, rleEncode(pixels, depth / 8)) << expected
                << "RLE_" + name;
        }
    }
    QTest::newRow("image ID skipped")
        << makeTga(2, 24, 23, 9, 0x20, tgaPixels(opaque, 24, true), "an image id") << opaque
        << "888";
}

void TestTgaDecoder::depthsAndOrders()
{
    QFETCH(QByteArray, tga);
    QFETCH(QImage, expected);
    QFETCH(QString, format);
    const DecodeResult r = decode(tga);
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    QCOMPARE(r.image, expected);
    QCOMPARE(r.format, format);
    QCOMPARE(r.width, 23);
    QCOMPARE(r.height, 9);
}

void TestTgaDecoder::sixteenBitPixels_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<uint>("argb");
    QTest::newRow("0xFFFF opaque white") << 0xFFFFu << 0xFFFFFFFFu;
    QTest::newRow("0x7FFF white, alpha 0") << 0x7FFFu << 0x00FFFFFFu;
    QTest::newRow("0x801F opaque blue") << 0x801Fu << 0xFF0000FFu;
    QTest::newRow("0x001F blue, alpha 0") << 0x001Fu << 0x000000FFu;
    QTest::newRow("0x8C63: 3 in every channel gives 24") << 0x8C63u << 0xFF181818u;
}

void TestTgaDecoder::sixteenBitPixels()
{
    QFETCH(uint, value);
    QFETCH(uint, argb);
    const DecodeResult r = decode(makeTga(2, 16, 1, 1, 0, pixel16(value)));
    QVERIFY(r.ok);
    QCOMPARE(r.image.pixel(0, 0), QRgb(argb));
}

void TestTgaDecoder::packets()
{
    // 0x83 and one pixel: four equal pixels; 0x02 and three pixels: those
    // three. In a 5-pixel-wide picture both runs cross a row end.
    const QByteArray a("\x01\x02\x03", 3), b("\x04\x05\x06", 3), c("\x07\x08\x09", 3),
        d("\x0A\x0B\x0C", 3);
    const QByteArray data = "\x02" + b + c + d + "\x83" + a + "\x83" + b + "\x82" + c;
    const DecodeResult r = decode(makeTga(10, 24, 5, 3, 0x20, data));
    QVERIFY(r.ok);
    auto rgb = [](const QByteArray &p) { return qRgb(uchar(p[2]), uchar(p[1]), uchar(p[0])); };
    const QVector<QRgb> expected{rgb(b), rgb(c), rgb(d), rgb(a), rgb(a), rgb(a), rgb(a), rgb(b),
                                 rgb(b), rgb(b), rgb(b), rgb(c), rgb(c), rgb(c), 0};
    for (int i = 0; i < 15; ++i)
        QCOMPARE(r.image.pixel(i % 5, i / 5), expected[i]);
}

void TestTgaDecoder::transparentAlpha()
{
    const QByteArray pixels = QByteArray("\x10\x20\x30\x00", 4).repeated(6);
    const DecodeResult r = decode(makeTga(2, 32, 3, 2, 0x08, pixels));
    QVERIFY(r.ok);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            QCOMPARE(r.image.pixel(x, y), qRgba(0x30, 0x20, 0x10, 0));
}

void TestTgaDecoder::colorMaps()
{
    const QImage image = patternImage(5, 4, false);
    const QByteArray pixels = tgaPixels(image, 24, false);
    // A map type of 1 with an empty map is accepted; a map with entries is
    // skipped (entries times entry size) before the pixels.
    const DecodeResult empty = decode(makeTga(2, 24, 5, 4, 0, pixels, {}, {}, 24));
    QVERIFY(empty.ok);
    QCOMPARE(empty.image, image);
    const DecodeResult mapped =
        decode(makeTga(2, 24, 5, 4, 0, pixels, "id", QByteArray(3 * 10, '\x7F'), 24));
    QVERIFY(mapped.ok);
    QCOMPARE(mapped.image, image);
    const DecodeResult fifteen =
        decode(makeTga(2, 24, 5, 4, 0, pixels, {}, QByteArray(2 * 7, '\x01'), 15));
    QCOMPARE(fifteen.image, image);
}

void TestTgaDecoder::refused_data()
{
    QTest::addColumn<QByteArray>("tga");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("format");
    const QString unsupported = "Not a correct TGA file (Unsupported image type)";
    QTest::newRow("colour-mapped, type 1")
        << makeTga(1, 24, 4, 4, 0, QByteArray(48, 0)) << unsupported << "UNKNOWN";
    QTest::newRow("greyscale, type 3")
        << makeTga(3, 8, 4, 4, 0, QByteArray(16, 0)) << unsupported << "UNKNOWN";
    QTest::newRow("8-bit true colour")
        << makeTga(2, 8, 4, 4, 0, QByteArray(16, 0)) << unsupported << "UNKNOWN";
    QByteArray mapType2 = makeTga(2, 24, 4, 4, 0, QByteArray(48, 0));
    mapType2[1] = 2;
    QTest::newRow("colour map type 2") << mapType2 << unsupported << "888";
    QTest::newRow("17 bytes") << QByteArray(17, 0) << "Not a correct TGA file (File is too small)"
                              << "UNKNOWN";
    // Headers that declare what their bytes cannot fill: nothing is allocated.
    const QString cannotFill =
        "Not a correct TGA file (its pixel data cannot fill 16384 x 16384 pixels)";
    QTest::newRow("no pixels for 16384 x 16384")
        << makeTga(2, 32, 16384, 16384, 0, {}) << cannotFill << "8888";
    QTest::newRow("a few packets for 16384 x 16384")
        << makeTga(10, 24, 16384, 16384, 0, QByteArray("\xFF\x01\x02\x03", 4).repeated(64))
        << cannotFill << "RLE_888";
}

void TestTgaDecoder::refused()
{
    QFETCH(QByteArray, tga);
    QFETCH(QString, message);
    QFETCH(QString, format);
    const DecodeResult r = decode(tga);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages, QStringList{message});
    QVERIFY(r.image.isNull());
    // The header copy is still what the file says.
    QCOMPARE(r.format, format);
    if (tga.size() >= 18 && r.width > 0)
        QCOMPARE(r.width, int(uchar(tga[12])) | int(uchar(tga[13])) << 8);
}

void TestTgaDecoder::cutShort_data()
{
    QTest::addColumn<QByteArray>("tga");
    QTest::addColumn<int>("pixelsShown");
    const QImage image = patternImage(4, 3, false);
    const QByteArray plain = tgaPixels(image, 24, true);
    QTest::newRow("plain, cut after 5 pixels")
        << makeTga(2, 24, 4, 3, 0x20, plain.left(5 * 3 + 2)) << 5;
    QTest::newRow("plain, no pixels") << makeTga(2, 24, 4, 3, 0x20, {}) << 0;
    QTest::newRow("run-length data runs out")
        << makeTga(10, 24, 4, 3, 0x20, "\x84" + plain.left(3) + "\x05" + plain.mid(15, 6)) << 7;
    QTest::newRow("run packet cut inside its pixel")
        << makeTga(10, 24, 4, 3, 0x20, "\x81" + plain.left(3) + "\x81" + plain.left(2)) << 2;
    QTest::newRow("packet past the last pixel")
        << makeTga(10, 24, 4, 3, 0x20, "\xFF" + plain.left(3) + "\x7F" + plain) << 12;
}

void TestTgaDecoder::cutShort()
{
    // What is there decodes; the rest stays transparent, and nothing is said.
    QFETCH(QByteArray, tga);
    QFETCH(int, pixelsShown);
    const DecodeResult r = decode(tga);
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    for (int i = 0; i < 12; ++i) {
        const QRgb p = r.image.pixel(i % 4, i / 4);
        QCOMPARE(qAlpha(p) == 255, i < pixelsShown);
        if (i >= pixelsShown)
            QCOMPARE(p, QRgb(0));
    }
}

void TestTgaDecoder::sizeCapAndBeforeLoad()
{
    TgaDecoder fresh;
    QCOMPARE(fresh.width(), 0);
    QCOMPARE(fresh.height(), 0);
    QCOMPARE(fresh.formatName(), QString("UNKNOWN"));
    QVERIFY(fresh.toImage().isNull());

    const DecodeResult huge = decode(makeTga(10, 32, 32767, 32767, 0, "\xFF\x01\x02\x03\x04"));
    QVERIFY(!huge.ok);
    QCOMPARE(huge.messages.size(), 1);
    QVERIFY(huge.messages.first().startsWith("Image too large"));
    QCOMPARE(huge.width, 32767);
}

QTEST_MAIN(TestTgaDecoder)
#include "tst_tgadecoder.moc"
