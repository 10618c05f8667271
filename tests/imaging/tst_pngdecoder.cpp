// PngDecoder: the pixel formats it takes, those it refuses, damaged data,
// and the channel expansion the other decoders share.

#include "decoder.h"
#include "decodewith.h"
#include "pngdecoder.h"
#include "samplefiles.h"

#include <QtTest>
#include <zlib.h>

namespace {

const QString unsupported =
    "Unsupported .png file! Only 8 bit per color channel RGB or RGBA is supported!";

DecodeResult decode(const QByteArray &bytes)
{
    return decodeWith<PngDecoder>(bytes);
}

// A PNG chunk with its length and checksum.
QByteArray chunk(const QByteArray &type, const QByteArray &data, bool goodCrc = true)
{
    QByteArray out;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(data.size() >> shift);
    const QByteArray body = type + data;
    uLong crc = crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()));
    if (!goodCrc)
        crc ^= 1;
    out += body;
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(crc >> shift);
    return out;
}

} // namespace

class TestPngDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void refused_data();
    void refused();
    void damaged_data();
    void damaged();
    void laterChunksDoNotMatter();
    void sizeCap();
    void beforeLoad();
    void channelExpansion();
};

void TestPngDecoder::decodes_data()
{
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<QString>("format");
    const QImage rgb = patternImage(37, 21, false);
    const QImage rgba = patternImage(37, 21, true);
    QTest::newRow("RGB") << makePng(rgb) << rgb << "888";
    QTest::newRow("RGBA, alpha kept unpremultiplied") << makePng(rgba, {6}) << rgba << "8888";
    QTest::newRow("interlaced RGB") << makePng(rgb, {2, 8, true}) << rgb << "888";
    QTest::newRow("interlaced RGBA") << makePng(rgba, {6, 8, true}) << rgba << "8888";
    QTest::newRow("tRNS leaves RGB opaque") << makePng(rgb, {2, 8, false, true}) << rgb << "888";
    QTest::newRow("one pixel") << makePng(patternImage(1, 1, true), {6}) << patternImage(1, 1, true)
                               << "8888";
}

void TestPngDecoder::decodes()
{
    QFETCH(QByteArray, png);
    QFETCH(QImage, expected);
    QFETCH(QString, format);
    const DecodeResult r = decode(png);
    QVERIFY(r.ok);
    QVERIFY(r.messages.isEmpty());
    QCOMPARE(r.image.format(), QImage::Format_ARGB32);
    QCOMPARE(r.image, expected);
    QCOMPARE(r.width, expected.width());
    QCOMPARE(r.height, expected.height());
    QCOMPARE(r.format, format);
}

void TestPngDecoder::refused_data()
{
    QTest::addColumn<QByteArray>("png");
    QTest::addColumn<QString>("message");
    const QImage image = patternImage(8, 8, true);
    QTest::newRow("palette") << makePng(image, {3}) << unsupported;
    QTest::newRow("grey") << makePng(image, {0}) << unsupported;
    QTest::newRow("grey and alpha") << makePng(image, {4}) << unsupported;
    QTest::newRow("16-bit RGB") << makePng(image, {2, 16}) << unsupported;
    QTest::newRow("16-bit RGBA") << makePng(image, {6, 16}) << unsupported;
    QTest::newRow("4-bit palette") << makePng(image, {3, 4}) << unsupported;
    QTest::newRow("not a PNG") << QByteArray("GIF89a, certainly not a PNG") << "Not a PNG file!";
    QTest::newRow("shorter than the signature") << QByteArray("\x89PNG") << "Not a PNG file!";
    QTest::newRow("empty") << QByteArray() << "Not a PNG file!";
    // 1 x 2^28 pixels, within the size cap, behind a few bytes of image data:
    // refused before anything is allocated.
    const QByteArray one = makePng(patternImage(1, 1, true), {6});
    const int idat = one.indexOf("IDAT") - 4;
    const QByteArray tall = one.left(8) +
                            chunk("IHDR", QByteArray("\0\0\0\x01\x10\0\0\0\x08\x06\0\0\0", 13)) +
                            one.mid(idat);
    QTest::newRow("rows the image data cannot hold")
        << tall << "Damaged .png file! (its image data cannot hold 1 x 268435456 pixels)";
}

void TestPngDecoder::refused()
{
    QFETCH(QByteArray, png);
    QFETCH(QString, message);
    const DecodeResult r = decode(png);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages, QStringList{message});
    QVERIFY(r.image.isNull());
}

void TestPngDecoder::damaged_data()
{
    QTest::addColumn<QByteArray>("png");
    const QByteArray good = makePng(patternImage(40, 40, true), {6});
    const int idat = good.indexOf("IDAT");
    QByteArray flipped = good;
    flipped[idat + 20] = char(flipped[idat + 20] ^ 0x55);
    QTest::newRow("checksum mismatch in the image data") << flipped;
    QTest::newRow("cut inside the image data") << good.left(idat + 30);
    QTest::newRow("cut inside the header") << good.left(20);
    QByteArray badHeader = good;
    badHeader[16 + 8] = 3; // bit depth 3, and the checksum no longer matches
    QTest::newRow("header altered under its checksum") << badHeader;
}

void TestPngDecoder::damaged()
{
    QFETCH(QByteArray, png);
    const DecodeResult r = decode(png);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages.size(), 1);
    QVERIFY(r.image.isNull());
}

void TestPngDecoder::laterChunksDoNotMatter()
{
    // A damaged chunk between the image data and the end is never read.
    const QImage image = patternImage(10, 10, false);
    QByteArray png = makePng(image);
    png.insert(png.size() - 12, chunk("tEXt", "Comment\0broken", false));
    const DecodeResult r = decode(png);
    QVERIFY(r.ok);
    QCOMPARE(r.image, image);
}

void TestPngDecoder::sizeCap()
{
    // A header that announces 20000 x 20000 pixels and no data: refused before
    // anything is allocated for it.
    QByteArray ihdr;
    for (quint32 v : {20000u, 20000u})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr += char(v >> shift);
    ihdr += QByteArray("\x08\x06\x00\x00\x00", 5);
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", ihdr) +
                           chunk("IDAT", QByteArray(8, 0)) + chunk("IEND", {});
    const DecodeResult r = decode(png);
    QVERIFY(!r.ok);
    QCOMPARE(r.messages.size(), 1);
    QVERIFY(r.messages.first().startsWith("Image too large"));
}

void TestPngDecoder::beforeLoad()
{
    PngDecoder decoder;
    QCOMPARE(decoder.width(), 0);
    QCOMPARE(decoder.height(), 0);
    QVERIFY(decoder.toImage().isNull());
}

void TestPngDecoder::channelExpansion()
{
    // floor(v * 255 / max), never rounded up.
    const QVector<int> five{0,   8,   16,  24,  32,  41,  49,  57,  65,  74,  82,
                            90,  98,  106, 115, 123, 131, 139, 148, 156, 164, 172,
                            180, 189, 197, 205, 213, 222, 230, 238, 246, 255};
    for (unsigned v = 0; v < 32; ++v)
        QCOMPARE(int(expand5(v)), five[int(v)]);
    for (unsigned v = 0; v < 64; ++v)
        QCOMPARE(int(expand6(v)), int(v * 255 / 63));
    QCOMPARE(int(expand6(11)), 44);
    QCOMPARE(int(expand6(20)), 80);
    QCOMPARE(int(expand6(21)), 85);
    for (unsigned v = 0; v < 16; ++v)
        QCOMPARE(int(expand4(v)), int(v * 17));
    QCOMPARE(int(alphaFromBit(0)), 0);
    QCOMPARE(int(alphaFromBit(0x8000)), 255);
}

QTEST_MAIN(TestPngDecoder)
#include "tst_pngdecoder.moc"
