// Refp decoding through GfxCore's C interface, on hand-built streams.
//
// Streams and outputs live in exactly sized heap buffers so that a sanitizer
// build catches any read or write one byte past them.

#include "gfxcore.h"
#include "testdata.h"

#include <QtTest>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const QByteArray &a)
{
    return Bytes(a.begin(), a.end());
}

QByteArray arrayOf(const Bytes &b)
{
    return QByteArray(reinterpret_cast<const char *>(b.data()), int(b.size()));
}

// A header with the given flag byte declaring `size`; a compressed-size field,
// when the flags call for one, holds `compressedSize`.
QByteArray header(uint8_t flags, uint32_t size, uint32_t compressedSize = 0)
{
    const int width = (flags & 0x80) ? 4 : 3;
    QByteArray h;
    h += char(flags);
    h += char(0xFB);
    auto put = [&](uint32_t v) {
        for (int i = width - 1; i >= 0; --i)
            h += char(v >> (8 * i));
    };
    if (flags & 0x01)
        put(compressedSize);
    put(size);
    return h;
}

QByteArray stream(const QByteArray &commands, uint32_t size)
{
    return header(0x10, size) + commands;
}

// Literal commands for `bytes` (a multiple of 4 long).
QByteArray literalCommands(const QByteArray &bytes)
{
    QByteArray out;
    for (int at = 0; at < bytes.size(); at += 112) {
        const QByteArray run = bytes.mid(at, 112);
        out += char(0xE0 + run.size() / 4 - 1);
        out += run;
    }
    return out;
}

QByteArray cmd2(int literals, int length, int offset)
{
    const int o = offset - 1;
    return QByteArray() + char(((o >> 3) & 0x60) | ((length - 3) << 2) | literals) + char(o & 0xFF);
}

QByteArray cmd3(int literals, int length, int offset)
{
    const int o = offset - 1;
    return QByteArray() + char(0x80 | (length - 4)) + char((literals << 6) | (o >> 8)) +
           char(o & 0xFF);
}

QByteArray cmd4(int literals, int length, int offset)
{
    const int o = offset - 1, l = length - 5;
    return QByteArray() + char(0xC0 | ((o >> 12) & 0x10) | ((l >> 6) & 0x0C) | literals) +
           char((o >> 8) & 0xFF) + char(o & 0xFF) + char(l & 0xFF);
}

// Extends `output` by a copy of `length` bytes from `offset` back, one byte
// at a time as the format defines it.
void appendCopy(QByteArray &output, int offset, int length)
{
    for (int i = 0; i < length; ++i)
        output += output.at(output.size() - offset);
}

// The same, for a table's rows.
QByteArray copied(QByteArray output, int offset, int length)
{
    appendCopy(output, offset, length);
    return output;
}

struct Result
{
    int64_t status;
    QByteArray output;
};

Result unpack(const QByteArray &s, size_t capacity)
{
    const Bytes source = bytesOf(s);
    Bytes out(capacity);
    const int64_t status = GfxCore_Unpack(source.data(), source.size(), out.data(), out.size());
    return {status, arrayOf(out).left(status < 0 ? 0 : int(status))};
}

// A stream of `count` valid commands of every kind, thousands of them, with
// the output each one makes worked out byte by byte as they are written.
QByteArray randomStream(uint seed, int count, QByteArray &expected)
{
    QRandomGenerator random(seed);
    QByteArray commands;
    expected.clear();
    auto literals = [&](int n) {
        const QByteArray bytes = testdata::randomBytes(n, random.generate());
        expected += bytes;
        return bytes;
    };
    for (int i = 0; i < count; ++i) {
        const int kind = random.bounded(4);
        if (kind == 0 || expected.size() < 4) {
            commands += literalCommands(literals(4 * (1 + random.bounded(28))));
            continue;
        }
        const int lit = random.bounded(4);
        const QByteArray litBytes = literals(lit);
        const int reach = expected.size();
        const int maxOffset = kind == 1 ? 1024 : kind == 2 ? 16384 : 131072;
        const int bound = std::min(reach, random.bounded(2) ? 24 : maxOffset);
        // Now and then the farthest match there is.
        const int offset =
            i % 50 == 0 && reach >= maxOffset ? maxOffset : 1 + random.bounded(bound);
        int length;
        if (kind == 1) {
            length = 3 + random.bounded(8);
            commands += cmd2(lit, length, offset);
        } else if (kind == 2) {
            length = 4 + random.bounded(64);
            commands += cmd3(lit, length, offset);
        } else {
            length = 5 + random.bounded(1024);
            commands += cmd4(lit, length, offset);
        }
        commands += litBytes;
        appendCopy(expected, offset, length);
    }
    const int last = random.bounded(4);
    commands += char(0xFC | last) + literals(last);

    return stream(commands, uint32_t(expected.size()));
}

// 128 KiB of random literals, then matches reaching back the whole window
// to `size` bytes: every command after the first one reaches as far back as
// the format allows.
QByteArray farthestStream(int size, QByteArray &expected)
{
    expected = testdata::randomBytes(131072, 31);
    QByteArray commands = literalCommands(expected);
    while (expected.size() + 1028 <= size) {
        commands += cmd4(0, 1028, 131072);
        appendCopy(expected, 131072, 1028);
    }
    return stream(commands + "\xFC", uint32_t(expected.size()));
}

// What GfxCore_UnpackPieces hands out, and its answer.
struct Pieces
{
    int64_t status = 0;
    QByteArray output;
    int count = 0;
    int stopAfter = -1; // pieces to take before answering 0
};

Pieces unpackPieces(const QByteArray &s, uint64_t want, int stopAfter = -1)
{
    const Bytes source = bytesOf(s);
    Pieces got;
    got.stopAfter = stopAfter;
    const auto sink = [](void *context, const void *piece, size_t length) -> int {
        Pieces &to = *static_cast<Pieces *>(context);
        if (to.count == to.stopAfter)
            return 0;
        ++to.count;
        to.output.append(static_cast<const char *>(piece), int(length));
        return 1;
    };
    got.status = GfxCore_UnpackPieces(source.data(), source.size(), want, sink, &got);
    return got;
}

} // namespace

class TestRefpDecoder : public QObject
{
    Q_OBJECT

private slots:
    void headerVariants_data();
    void headerVariants();
    void notAStream_data();
    void notAStream();
    void commands_data();
    void commands();
    void stopCommand_data();
    void stopCommand();
    void randomCommands_data();
    void randomCommands();
    void pieces_data();
    void pieces();
    void damaged_data();
    void damaged();
    void declaredSizeBeyondTheStream();
    void smallCapacityIsRefused();
};

void TestRefpDecoder::headerVariants_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("length");
    QTest::newRow("0x10, 3-byte size") << header(0x10, 3) << 5;
    QTest::newRow("0x11, skipped compressed size") << header(0x11, 3, 0xABCDEF) << 8;
    QTest::newRow("0x90, 4-byte size") << header(0x90, 3) << 6;
    QTest::newRow("0x91, 4-byte sizes") << header(0x91, 3, 0x12345678) << 10;
}

void TestRefpDecoder::headerVariants()
{
    QFETCH(QByteArray, head);
    QFETCH(int, length);
    const Bytes s = bytesOf(head + "\xFF"
                                   "abc");
    QCOMPARE(GfxCore_HeaderLength(s.data(), s.size()), size_t(length));
    QCOMPARE(GfxCore_UnpackedSize(s.data(), s.size()), 3u);
    const Result r = unpack(head + "\xFF"
                                   "abc",
                            3);
    QCOMPARE(r.status, int64_t(3));
    QCOMPARE(r.output, QByteArray("abc"));
}

void TestRefpDecoder::notAStream_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("\x10", 1);
    QTest::newRow("plain archive") << QByteArray("BIGF\0\0\0\0", 8);
    for (int flags : {0x00, 0x01, 0x12, 0x30, 0x50, 0x81, 0xFF})
        QTest::addRow("flags 0x%02x", flags) << header(uint8_t(flags), 0) + "\xFC";
    QTest::newRow("second byte not 0xFB") << QByteArray("\x10\xFA\x00\x00\x00\xFC", 6);
    for (int flags : {0x10, 0x11, 0x90, 0x91}) {
        const QByteArray h = header(uint8_t(flags), 7);
        QTest::addRow("header 0x%02x cut short", flags) << h.left(h.size() - 1);
    }
}

void TestRefpDecoder::notAStream()
{
    QFETCH(QByteArray, bytes);
    const Bytes s = bytesOf(bytes);
    QCOMPARE(GfxCore_HeaderLength(s.data(), s.size()), size_t(0));
    QCOMPARE(GfxCore_UnpackedSize(s.data(), s.size()), 0u);
    QCOMPARE(unpack(bytes, 64).status, int64_t(-1));
}

void TestRefpDecoder::commands_data()
{
    // Commands without the stop command, and the output they make.
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray k1 = testdata::randomBytes(1024, 11);
    const QByteArray k16 = testdata::randomBytes(16384, 12);
    const QByteArray k128 = testdata::randomBytes(131072, 13);

    QTest::newRow("2-byte: literals and overlapping copy")
        << cmd2(3, 7, 3) + "abc" << QByteArray("abcabcabca");
    QTest::newRow("2-byte: largest offset and length")
        << literalCommands(k1) + cmd2(0, 10, 1024) << copied(k1, 1024, 10);
    QTest::newRow("3-byte: literals in the second byte")
        << cmd3(2, 4, 2) + "xy" << QByteArray("xyxyxy");
    QTest::newRow("3-byte: largest offset and length")
        << literalCommands(k16) + cmd3(0, 67, 16384) << copied(k16, 16384, 67);
    QTest::newRow("4-byte: literals and overlapping copy")
        << cmd4(1, 5, 1) + "z" << QByteArray(6, 'z');
    QTest::newRow("4-byte: largest offset and length")
        << literalCommands(k128) + cmd4(0, 1028, 131072) << copied(k128, 131072, 1028);
    QTest::newRow("4-byte: high bits of the length field")
        << literalCommands(k1) + cmd4(3, 773, 900) + "pqr" << copied(k1 + "pqr", 900, 773);
    QTest::newRow("literal commands of 4 and 112")
        << literalCommands("abcd") + literalCommands(k1.left(112)) << "abcd" + k1.left(112);
    for (int offset = 1; offset <= 33; ++offset) {
        const QByteArray seed = k1.left(36);
        QTest::addRow("long copies at offset %d", offset)
            << literalCommands(seed) + cmd4(0, 1028, offset) + cmd3(0, 67, offset)
            << copied(copied(seed, offset, 1028), offset, 67);
    }
    QTest::newRow("copy that starts at the first output byte")
        << cmd2(1, 10, 1) + "q" + cmd3(0, 50, 11) << QByteArray(61, 'q');
}

void TestRefpDecoder::commands()
{
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, expected);

    // As written: the commands end near the ends of both buffers, where the
    // decoder copies exactly.
    Result r =
        unpack(stream(commands + "\xFC", uint32_t(expected.size())), size_t(expected.size()));
    QCOMPARE(r.status, int64_t(expected.size()));
    QVERIFY(r.output == expected);

    // Followed by more input and output, so that the same commands take the
    // wide copies.
    const QByteArray tail = testdata::randomBytes(224, 14);
    const QByteArray longer = copied(expected + tail, 1, 1028);
    r = unpack(stream(commands + literalCommands(tail) + cmd4(0, 1028, 1) + "\xFC",
                      uint32_t(longer.size())),
               size_t(longer.size()));
    QCOMPARE(r.status, int64_t(longer.size()));
    QVERIFY(r.output == longer);
}

void TestRefpDecoder::stopCommand_data()
{
    QTest::addColumn<QByteArray>("commands");
    QTest::addColumn<QByteArray>("expected");
    for (int n = 0; n <= 3; ++n)
        QTest::addRow("stop with %d literals", n)
            << char(0xFC | n) + QByteArray("uvw").left(n) << QByteArray("uvw").left(n);
    QTest::newRow("bytes after the stop command are ignored") << QByteArray("\xFE"
                                                                            "ab"
                                                                            "junk")
                                                              << QByteArray("ab");
    QTest::newRow("empty stream") << QByteArray("\xFC") << QByteArray();
}

void TestRefpDecoder::stopCommand()
{
    QFETCH(QByteArray, commands);
    QFETCH(QByteArray, expected);
    const Result r = unpack(stream(commands, uint32_t(expected.size())), size_t(expected.size()));
    QCOMPARE(r.status, int64_t(expected.size()));
    QCOMPARE(r.output, expected);
}

void TestRefpDecoder::randomCommands_data()
{
    QTest::addColumn<uint>("seed");
    for (uint seed : {1u, 2u, 3u, 4u})
        QTest::addRow("seed %u", seed) << seed;
}

void TestRefpDecoder::randomCommands()
{
    QFETCH(uint, seed);
    QByteArray expected;
    const QByteArray whole = randomStream(seed, 6000, expected);
    const Result r = unpack(whole, size_t(expected.size()));
    QCOMPARE(r.status, int64_t(expected.size()));
    QVERIFY(r.output == expected);

    // A prefix cut anywhere, inside a command too, is the output's start;
    // so is one of a stream whose end is damaged, up to the damage.
    const int size = expected.size();
    for (const QByteArray &source : {whole, whole.chopped(200)}) {
        const Bytes in = bytesOf(source);
        for (int want : {0, 1, 17, int(QRandomGenerator(seed).bounded(size)), size / 2, size - 1,
                         size, size + 9}) {
            if (source.size() < whole.size() && want > size / 2)
                continue;
            Bytes out(size_t(want) + 1);
            const int64_t got =
                GfxCore_UnpackPrefix(in.data(), in.size(), out.data(), size_t(want));
            QCOMPARE(got, int64_t(std::min(want, size)));
            QVERIFY(arrayOf(out).left(int(got)) == expected.left(int(got)));
        }
    }
}

void TestRefpDecoder::pieces_data()
{
    QTest::addColumn<uint>("seed");
    QTest::addColumn<int>("wantPercent"); // of the output; over 100 for all of it
    QTest::addColumn<int>("chopped");     // bytes cut from the stream's end
    QTest::addColumn<int>("stopAfter");   // pieces the sink takes, or -1
    QTest::newRow("whole output") << 5u << 101 << 0 << -1;
    QTest::newRow("a prefix ending in the third piece") << 6u << 71 << 0 << -1;
    QTest::newRow("a prefix of one piece") << 7u << 9 << 0 << -1;
    QTest::newRow("damaged end") << 8u << 101 << 300 << -1;
    QTest::newRow("sink stops after two pieces") << 9u << 101 << 0 << 2;
    QTest::newRow("every match as far back as can be") << 0u << 101 << 0 << -1;
}

void TestRefpDecoder::pieces()
{
    // Over 3 MiB of output, made a piece at a time in a buffer of about
    // 1 MiB: matches reach across the pieces, as far back as the format
    // allows.
    QFETCH(uint, seed); // 0: farthestStream
    QFETCH(int, wantPercent);
    QFETCH(int, chopped);
    QFETCH(int, stopAfter);
    QByteArray expected;
    const QByteArray whole =
        seed ? randomStream(seed, 22000, expected) : farthestStream(3 << 20, expected);
    QVERIFY(expected.size() > (3 << 20) - 1028);
    const uint64_t want = uint64_t(expected.size()) * uint(wantPercent) / 100;
    const Pieces got = unpackPieces(whole.chopped(chopped), want, stopAfter);
    const qint64 made = std::min<qint64>(qint64(want), expected.size());
    if (chopped > 0) {
        QCOMPARE(got.status, int64_t(-1));
        QVERIFY(got.output.size() > 0);
    } else if (stopAfter >= 0) {
        QCOMPARE(got.status, int64_t(-2));
        QCOMPARE(got.count, stopAfter);
    } else {
        QCOMPARE(got.status, int64_t(made));
        QCOMPARE(got.output.size(), made);
    }
    QVERIFY(got.output.size() <= made);
    QVERIFY(got.output == expected.left(got.output.size()));
}

void TestRefpDecoder::damaged_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("no commands") << header(0x10, 0);
    QTest::newRow("ends before the stop command") << header(0x10, 4) + "\xE0"
                                                                       "abcd";
    QTest::newRow("2-byte command cut short") << header(0x10, 8) +
                                                     "\xE0"
                                                     "abcd" +
                                                     "\x00";
    QTest::newRow("3-byte command cut short") << header(0x10, 8) +
                                                     "\xE0"
                                                     "abcd" +
                                                     QByteArray("\x80\x00", 2);
    QTest::newRow("4-byte command cut short") << header(0x10, 9) +
                                                     "\xE0"
                                                     "abcd" +
                                                     QByteArray("\xC0\x00\x00", 3);
    QTest::newRow("literal command past the end") << header(0x10, 8) + "\xE1"
                                                                       "abcd";
    QTest::newRow("a command's literals past the end") << header(0x10, 6) + cmd2(3, 3, 1) + "ab";
    QTest::newRow("stop literals past the end") << header(0x10, 3) + "\xFF"
                                                                     "ab";
    QTest::newRow("offset before the output") << header(0x10, 3) + cmd2(0, 3, 1) + "\xFC";
    QTest::newRow("offset one past the output") << header(0x10, 7) +
                                                       "\xE0"
                                                       "abcd" +
                                                       cmd2(0, 3, 5) + "\xFC";
    QTest::newRow("literals past the declared size") << header(0x10, 2) + "\xE0"
                                                                          "abcd"
                                                                          "\xFC";
    QTest::newRow("copy past the declared size") << header(0x10, 6) +
                                                        "\xE0"
                                                        "abcd" +
                                                        cmd2(0, 3, 1) + "\xFC";
    QTest::newRow("stop literals past the declared size") << header(0x10, 2) + "\xFF"
                                                                               "abc";
    QTest::newRow("stop short of the declared size") << header(0x10, 5) + "\xFF"
                                                                          "abc";

    // The same faults where the decoder is in its wide-copy loop.
    const QByteArray k1 = testdata::randomBytes(1024, 21);
    const QByteArray tail = literalCommands(testdata::randomBytes(224, 22));
    QTest::newRow("wide: offset one past the output")
        << stream(literalCommands(k1) + cmd4(0, 1028, 1025) + tail + "\xFC", 1024 + 1028 + 224);
    QTest::newRow("wide: stream ends in literals")
        << stream(literalCommands(k1) + cmd4(0, 1028, 1) + tail.left(100), 1024 + 1028 + 224);
    QTest::newRow("wide: declared size short by one")
        << stream(literalCommands(k1) + cmd4(0, 1028, 1) + tail + "\xFC", 1024 + 1028 + 223);
}

void TestRefpDecoder::damaged()
{
    QFETCH(QByteArray, bytes);
    const Bytes s = bytesOf(bytes);
    const uint32_t declared = GfxCore_UnpackedSize(s.data(), s.size());
    QCOMPARE(unpack(bytes, declared).status, int64_t(-1));
    QCOMPARE(unpackPieces(bytes, ~uint64_t(0)).status, int64_t(-1));
}

void TestRefpDecoder::declaredSizeBeyondTheStream()
{
    // 4 GiB declared by a 7-byte stream: answered 0, so no caller allocates it.
    const Bytes huge = bytesOf(header(0x90, 0xFFFFFFFFu) + "\xFC");
    QCOMPARE(GfxCore_HeaderLength(huge.data(), huge.size()), size_t(6));
    QCOMPARE(GfxCore_UnpackedSize(huge.data(), huge.size()), 0u);
    QCOMPARE(unpack(arrayOf(huge), 16).status, int64_t(-1));

    // A stream that really expands that much is still accepted: 1000 copies
    // of 1028 bytes from 4 bytes each.
    QByteArray commands = cmd2(1, 10, 1) + "q";
    for (int i = 0; i < 1000; ++i)
        commands += cmd4(0, 1028, 1);
    const QByteArray dense = stream(commands + "\xFC", 11 + 1028000);
    const Bytes d = bytesOf(dense);
    QCOMPARE(GfxCore_UnpackedSize(d.data(), d.size()), 1028011u);
    const Result r = unpack(dense, 1028011);
    QCOMPARE(r.status, int64_t(1028011));
    QVERIFY(r.output == QByteArray(1028011, 'q'));
}

void TestRefpDecoder::smallCapacityIsRefused()
{
    const QByteArray s = stream(cmd2(1, 9, 1) + "a" + "\xFC", 10);
    QCOMPARE(unpack(s, 10).status, int64_t(10));
    QCOMPARE(unpack(s, 9).status, int64_t(-1));
}

QTEST_GUILESS_MAIN(TestRefpDecoder)
#include "tst_refpdecoder.moc"
