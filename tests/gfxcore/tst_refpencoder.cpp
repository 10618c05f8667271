// Refp encoding through GfxCore's C interface: every input must come back
// unchanged, and the encoder must find what the format lets it carry.

#include "gfxcore.h"
#include "testdata.h"

#include <QtTest>

#include <vector>

namespace {

QByteArray compress(const QByteArray &input, int level = GFXCORE_LEVEL_DEFAULT)
{
    std::vector<uint8_t> out(GfxCore_CompressBound(size_t(input.size())));
    const size_t n = GfxCore_CompressLevel(input.constData(), size_t(input.size()), out.data(),
                                           out.size(), level);
    return QByteArray(reinterpret_cast<const char *>(out.data()), int(n));
}

// The commands of a stream, counted by walking them.
int commands(const QByteArray &stream)
{
    const auto *p = reinterpret_cast<const uchar *>(stream.constData());
    int at = int(GfxCore_HeaderLength(p, size_t(stream.size()))), count = 0;
    while (at < stream.size()) {
        const uchar b0 = p[at];
        ++count;
        if (b0 < 0x80)
            at += 2 + (b0 & 3);
        else if (b0 < 0xC0)
            at += 3 + (p[at + 1] >> 6);
        else if (b0 < 0xE0)
            at += 4 + (b0 & 3);
        else if (b0 < 0xFC)
            at += 1 + ((b0 & 0x1F) + 1) * 4;
        else
            break;
    }
    return count;
}

// RGB pixels of a smooth picture under strong noise: it barely compresses,
// yet holds a 3-byte match here and there.
QByteArray noisyPicture(int pixels)
{
    const QByteArray noise = testdata::randomBytes(pixels * 3, 21);
    QByteArray out;
    for (int i = 0; i < pixels; ++i)
        for (int c = 0; c < 3; ++c)
            out += char(100 + (i % 1024) / 16 + (uchar(noise[i * 3 + c]) % 96));
    return out;
}

// The stream of `input` compressed in parts of `partSize` bytes, each with
// the whole input before it as history, written one after another.
QByteArray compressInParts(const QByteArray &input, int partSize, int level)
{
    const auto *in = reinterpret_cast<const uint8_t *>(input.constData());
    QByteArray stream;
    int start = 0;
    do {
        const int length = std::min(partSize, input.size() - start);
        std::vector<uint8_t> out(GfxCore_CompressBound(size_t(length)));
        const size_t n =
            GfxCore_CompressPart(in, size_t(start), size_t(length), uint64_t(start),
                                 uint64_t(input.size()), out.data(), out.size(), level);
        if (n == 0)
            return QByteArray();
        stream.append(reinterpret_cast<const char *>(out.data()), int(n));
        start += length;
    } while (start < input.size());
    return stream;
}

// Unpacks into an exactly sized buffer; a null array on failure.
QByteArray decompress(const QByteArray &stream)
{
    const std::vector<uint8_t> source(stream.begin(), stream.end());
    const uint32_t size = GfxCore_UnpackedSize(source.data(), source.size());
    std::vector<uint8_t> out(size);
    if (GfxCore_Unpack(source.data(), source.size(), out.data(), out.size()) != int64_t(size))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(out.data()), int(size));
}

// `block` at the start and again `distance` bytes later, with random filler
// between: only a match that reaches back `distance` bytes can shrink it.
QByteArray repeatedAt(const QByteArray &block, int distance)
{
    return block + testdata::randomBytes(distance - block.size(), 99) + block;
}

} // namespace

class TestRefpEncoder : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void noiseBecomesLiteralRuns();
    void headerFlags();
    void shortestCommands();
    void matchesReachTheWholeWindow_data();
    void matchesReachTheWholeWindow();
    void refusesTooSmallBuffer();
    void partsMakeOneStream_data();
    void partsMakeOneStream();
    void refusesPartsThatCannotJoin();
};

void TestRefpEncoder::roundTrip_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("three bytes") << QByteArray("xyz");
    QTest::newRow("five equal bytes") << QByteArray(5, 'a');
    QTest::newRow("incompressible 1 MiB") << testdata::randomBytes(1 << 20, 5);
    QTest::newRow("run of 1 MiB") << QByteArray(1 << 20, '\0');
    QTest::newRow("runs of 1 to 3000 bytes") << [] {
        QByteArray runs;
        for (int n = 1; n <= 3000; n += 7)
            runs += QByteArray(n, char('a' + n % 26));
        return runs;
    }();
    QTest::newRow("text") << testdata::text(3 << 20, 6);
    QTest::newRow("short period patterns") << QByteArray("ab").repeated(5000) +
                                                  QByteArray("abcdefg").repeated(3000) +
                                                  testdata::randomBytes(17, 7).repeated(4000);
    QTest::newRow("repeat 40 KiB back") << repeatedAt(testdata::randomBytes(8192, 8), 40 << 10);
    QTest::newRow("repeat exactly 128 KiB back")
        << repeatedAt(testdata::randomBytes(4096, 9), 131072);
    QTest::newRow("repeat just past the window")
        << repeatedAt(testdata::randomBytes(4096, 10), 131073);
    QTest::newRow("long match ending at the input's end")
        << testdata::randomBytes(300, 11) + QByteArray(2000, 'k');
}

void TestRefpEncoder::roundTrip()
{
    // Every level's stream decodes with the one decoder, and the best is
    // never larger than the default, but for the few bytes of a match cut at
    // the end of each block of 256 KiB it parses at once.
    QFETCH(QByteArray, input);
    int sizes[4] = {};
    for (int level : {GFXCORE_LEVEL_FAST, GFXCORE_LEVEL_DEFAULT, GFXCORE_LEVEL_BEST}) {
        const QByteArray stream = compress(input, level);
        QVERIFY(!stream.isEmpty());
        QVERIFY(size_t(stream.size()) <= GfxCore_CompressBound(size_t(input.size())));
        const QByteArray back = decompress(stream);
        QCOMPARE(back.size(), input.size());
        QVERIFY2(back == input, qPrintable(QString("level %1").arg(level)));
        sizes[level] = stream.size();
    }
    QVERIFY(sizes[GFXCORE_LEVEL_BEST] <=
            sizes[GFXCORE_LEVEL_DEFAULT] + 8 * (input.size() / (1 << 18) + 1));
}

void TestRefpEncoder::noiseBecomesLiteralRuns()
{
    // The default level does not spend a command on a byte saved in the
    // middle of literals: such data decodes as runs of 112. The best level,
    // counting bytes only, takes what saves one.
    const QByteArray input = noisyPicture(100000);
    const QByteArray fair = compress(input), best = compress(input, GFXCORE_LEVEL_BEST);
    QVERIFY2(commands(fair) < input.size() / 100, qPrintable(QString::number(commands(fair))));
    QVERIFY(best.size() <= fair.size());
    QVERIFY(commands(best) > commands(fair));
    QVERIFY(decompress(fair) == input && decompress(best) == input);
}

void TestRefpEncoder::headerFlags()
{
    // Sizes below 16 MiB fit the 3-byte field; larger ones need the wide header.
    const QByteArray small = compress(QByteArray((1 << 24) - 1, 'a'));
    QCOMPARE(uchar(small.at(0)), uchar(0x10));
    QCOMPARE(GfxCore_HeaderLength(small.constData(), size_t(small.size())), size_t(5));

    const QByteArray input = testdata::text((1 << 24) + 5, 3);
    const QByteArray large = compress(input);
    QCOMPARE(uchar(large.at(0)), uchar(0x90));
    QCOMPARE(GfxCore_HeaderLength(large.constData(), size_t(large.size())), size_t(6));
    QVERIFY(decompress(large) == input);
}

void TestRefpEncoder::shortestCommands()
{
    // Three literals ride on a 2-byte command that copies nine bytes from
    // three back, and the stop command ends the stream.
    QCOMPARE(compress("abcabcabcabc"), QByteArray("\x10\xFB\x00\x00\x0C"
                                                  "\x1B\x02"
                                                  "abc"
                                                  "\xFC",
                                                  11));
    // Four literals take a literal command of their own.
    QCOMPARE(compress("abcdabcdabcd"), QByteArray("\x10\xFB\x00\x00\x0C"
                                                  "\xE0"
                                                  "abcd"
                                                  "\x14\x03"
                                                  "\xFC",
                                                  13));
    // A run longer than one command holds is split, the remainder long
    // enough for a command of its own.
    const QByteArray run = compress(QByteArray(1 + 1028 + 3, 'r'));
    QCOMPARE(run.size(), 5 + 4 + 1 + 2 + 1);
}

void TestRefpEncoder::matchesReachTheWholeWindow_data()
{
    QTest::addColumn<int>("distance");
    QTest::newRow("beyond 16 KiB") << (20 << 10);
    QTest::newRow("near 128 KiB") << (127 << 10);
    QTest::newRow("exactly 128 KiB") << 131072;
}

void TestRefpEncoder::matchesReachTheWholeWindow()
{
    // Random bytes do not compress: they cost themselves plus one command byte
    // per 112. The stream can only be smaller than that by about the block if
    // the repeat was found.
    QFETCH(int, distance);
    const int block = 16 << 10;
    const QByteArray input = repeatedAt(testdata::randomBytes(block, 12), distance);
    const int literals = input.size() - block;
    for (int level : {GFXCORE_LEVEL_FAST, GFXCORE_LEVEL_DEFAULT, GFXCORE_LEVEL_BEST}) {
        const QByteArray stream = compress(input, level);
        QVERIFY2(stream.size() < literals + literals / 112 + 256,
                 qPrintable(QStringLiteral("level %1: %2 bytes from %3")
                                .arg(level)
                                .arg(stream.size())
                                .arg(input.size())));
    }
}

void TestRefpEncoder::refusesTooSmallBuffer()
{
    const QByteArray input = testdata::randomBytes(1000, 13);
    std::vector<uint8_t> out(GfxCore_CompressBound(1000) - 1);
    QCOMPARE(GfxCore_Compress(input.constData(), 1000, out.data(), out.size()), size_t(0));
}

void TestRefpEncoder::partsMakeOneStream_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("partSize");
    // Parts end on matches of every length and distance and on literals,
    // and matches reach back into the parts before.
    QTest::newRow("text, parts of 1 KiB") << testdata::text(150000, 14) << 1024;
    QTest::newRow("text, parts of 256 KiB") << testdata::text(600000, 15) << (1 << 18);
    QTest::newRow("noise, parts of 64 KiB") << testdata::randomBytes(300000, 16) << 65536;
    QTest::newRow("noisy picture, parts of 4 KiB") << noisyPicture(100000) << 4096;
    QTest::newRow("three letters, parts of 12 bytes") << [] {
        QByteArray letters = testdata::randomBytes(6000, 17);
        for (char &c : letters)
            c = char('a' + uchar(c) % 3);
        return letters;
    }() << 12;
    QTest::newRow("a run, parts of 1000 bytes") << QByteArray(100001, 'r') << 1000;
    QTest::newRow("repeat 40 KiB back, parts of 20 KiB")
        << repeatedAt(testdata::randomBytes(8192, 8), 40 << 10) << (20 << 10);
    QTest::newRow("one part") << testdata::text(5000, 18) << 5000;
    QTest::newRow("empty") << QByteArray() << 4;
}

void TestRefpEncoder::partsMakeOneStream()
{
    // The parts, written in order, are a stream of the input at every level,
    // scarcely larger than the stream of the whole; one part is that stream.
    QFETCH(QByteArray, input);
    QFETCH(int, partSize);
    const int parts = std::max(1, (input.size() + partSize - 1) / partSize);
    for (int level = GFXCORE_LEVEL_STORE; level <= GFXCORE_LEVEL_BEST; ++level) {
        const QString where = QStringLiteral("level %1").arg(level);
        const QByteArray stream = compressInParts(input, partSize, level);
        QVERIFY2(!stream.isEmpty(), qPrintable(where));
        QVERIFY2(decompress(stream) == input, qPrintable(where));
        const QByteArray whole = compress(input, level);
        if (parts == 1)
            QCOMPARE(stream, whole);
        QVERIFY2(stream.size() <= whole.size() + 8 * parts + input.size() / 50, qPrintable(where));
    }
}

void TestRefpEncoder::refusesPartsThatCannotJoin()
{
    const QByteArray input = testdata::text(1000, 19);
    const auto *in = reinterpret_cast<const uint8_t *>(input.constData());
    std::vector<uint8_t> out(GfxCore_CompressBound(1000));
    auto part = [&](size_t history, size_t length, uint64_t offset, uint64_t streamLength) {
        return GfxCore_CompressPart(in, history, length, offset, streamLength, out.data(),
                                    out.size(), GFXCORE_LEVEL_DEFAULT);
    };
    QVERIFY(part(0, 102, 0, 1000) == 0);    // not the last, and not a multiple of 4
    QVERIFY(part(100, 100, 50, 1000) == 0); // more history than stream before it
    QVERIFY(part(0, 100, 950, 1000) == 0);  // past the stream's end
    QVERIFY(part(0, 100, 0, uint64_t(1) << 32) == 0);
    QVERIFY(part(0, 100, 0, 1000) > 0);
    QVERIFY(part(100, 100, 900, 1000) > 0);
}

QTEST_GUILESS_MAIN(TestRefpEncoder)
#include "tst_refpencoder.moc"
