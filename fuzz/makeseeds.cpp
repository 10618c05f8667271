// Writes the fuzzers' seed corpora, and the hostile corpus of the tests.
//   makeseeds --seeds DIR     small valid files of every kind, DIR/<target>/
//   makeseeds --hostile DIR   the bad inputs the program must refuse cleanly

#include "samplefiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>

#include <zlib.h>

#include <cstdio>
#include <vector>

namespace {

using Files = QMap<QString, QByteArray>;

QByteArray big(const QVector<QPair<QByteArray, QByteArray>> &entries, bool compressEntries = false)
{
    QVector<SampleEntry> samples;
    for (const auto &entry : entries)
        samples.append({entry.first, entry.second, compressEntries});
    return makeBig(samples);
}

QByteArray be32(quint32 v)
{
    return QByteArray() + char(v >> 24) + char(v >> 16) + char(v >> 8) + char(v);
}

QByteArray record(quint32 offset, quint32 size, const QByteArray &path)
{
    return be32(offset) + be32(size) + path + '\0';
}

QByteArray header(quint32 count)
{
    return QByteArray("BIGF") + QByteArray(4, '\0') + be32(count) + be32(0);
}

QByteArray tpiHeader(quint16 w, quint16 h, quint16 blocks, bool refp = false)
{
    QByteArray out("1IPT8888");
    out += refp ? QByteArray("Refp") : QByteArray(4, '\0');
    for (quint16 v : {w, h, blocks, quint16(0)})
        out += QByteArray() + char(v) + char(v >> 8);
    return out;
}

Files seeds()
{
    Files f;
    const QImage small = patternImage(8, 6, true);
    f["refp/text"] = refpCompress(QByteArray("the archive holds a folder of files ").repeated(20));
    f["refp/runs"] = refpCompress(QByteArray(300, 'a') + QByteArray(40, 'b') + "abcabcabc");
    f["refp/empty"] = refpCompress(QByteArray());
    f["refp/wide"] = QByteArray("\x91\xFB\x00\x00\x00\x09\x00\x00\x00\x05\xFF"
                                "abc",
                                14);
    f["big/plain"] = big({{"a\\b.ini", "k=v"}, {"c.tga", "x"}, {"d", ""}});
    f["big/entries"] = big({{"x\\y.png", "png bytes"}, {"x\\z", "zzzzzzzzzzzz"}}, true);
    f["big/whole"] = refpCompress(big({{"dir\\f.xml", "<a/>"}}));
    f["png/rgb"] = makePng(small, {2});
    f["png/rgba"] = makePng(small, {6});
    f["png/interlaced"] = makePng(small, {6, 8, true});
    f["png/palette"] = makePng(small, {3});
    f["png/grey16"] = makePng(small, {0, 16});
    for (int depth : {16, 24, 32}) {
        const QByteArray pixels = tgaPixels(small, depth, depth != 24);
        f[QString("tga/plain%1").arg(depth)] =
            makeTga(2, depth, 8, 6, depth == 24 ? 0 : 0x20, pixels);
        f[QString("tga/rle%1").arg(depth)] =
            makeTga(10, depth, 8, 6, 0x28, tgaRle(pixels, depth / 8));
    }
    for (uint8_t type : {0x7D, 0x7F, 0x6D, 0x7E, 0x78, 0x60, 0x61, 0x62})
        f[QString("tpi/type%1").arg(type, 2, 16)] =
            makeTpi(8, 8, {tpiBlockOf(patternImage(8, 8, true), type)});
    f["tpi/refp"] =
        makeTpi(16, 8, {tpiBlockOf(small.copy(0, 0, 8, 8), 0x7D), tpiBlockOf(small, 0x78)}, true);
    f["safepath/plain"] = "data\\art\\logo.tga";
    f["safepath/slashes"] = "a/b/c";
    f["safepath/dots"] = "..\\..\\x";
    return f;
}

QByteArray le32(quint32 v)
{
    return QByteArray() + char(v) + char(v >> 8) + char(v >> 16) + char(v >> 24);
}

// Files that cost far more work than what they show could need, and
// pictures damaged in ways that must not pass for whole ones.
void hostileWork(Files &f)
{
    // A TPI 0 pixels wide of 4000 Refp blocks of zeros, 64 KiB each, under
    // sixteen names of an archive that share its one compressed copy.
    const QByteArray zeros = refpCompress(tpiBlockBytes({0x7D, 128, 128, QByteArray(65536, 0)}));
    QByteArray wide = tpiHeader(0, 64, 4000, true);
    for (int i = 0; i < 4000; ++i)
        wide += le32(quint32(zeros.size())) + zeros;
    const QByteArray packed = refpCompress(wide);
    QByteArray directory;
    for (int i = 0; i < 16; ++i)
        directory +=
            record(0, quint32(packed.size()), QByteArray("p") + QByteArray::number(i) + ".tpi");
    const quint32 start = quint32(16 + directory.size());
    directory.clear();
    for (int i = 0; i < 16; ++i)
        directory +=
            record(start, quint32(packed.size()), QByteArray("p") + QByteArray::number(i) + ".tpi");
    f["shared-zero-width.big"] = header(16) + directory + packed;
    // A 2 x 2 picture of 50 blocks, each declaring 1 MiB of zeros.
    const QByteArray block = refpCompress(tpiBlockBytes({0x7D, 512, 512, QByteArray(1 << 20, 0)}));
    QByteArray tiny = tpiHeader(2, 2, 50, true);
    for (int i = 0; i < 50; ++i)
        tiny += le32(quint32(block.size())) + block;
    f["tiny-many-blocks.tpi"] = tiny;
    // One "compressed" block of garbage whose first bytes unpack to the
    // header of a block as large as the picture, declaring 8.9 MB.
    f["garbage-block-4096.tpi"] =
        tpiHeader(4096, 4096, 1, true) + le32(35000 + 23) +
        QByteArray("\x90\xFB\x00\x88\x00\x00\xE3\x7D\0\0\0\0\x10\0\x10", 15) + QByteArray(8, '\0') +
        QByteArray(35000, '\xFF');
    // A whole-file compressed archive of one entry with a 16 MiB path.
    f["long-path.big"] = refpCompress(big({{QByteArray(16 << 20, 'p'), "x"}}));
    // A 64 x 64 picture of six Refp blocks, each unpacking 14 MiB of a
    // block far wider than the picture and failing at its stop command.
    QByteArray failing =
        refpCompress(tpiBlockBytes({0x7D, 65535, 56, QByteArray(65535 * 56 * 4, 0)}));
    failing[failing.size() - 1] = char(0xE0);
    QByteArray blocks = tpiHeader(64, 64, 6, true);
    for (int i = 0; i < 6; ++i)
        blocks += le32(quint32(failing.size())) + failing;
    f["failing-blocks.tpi"] = blocks;
    // A PNG of one column of a million rows: every row costs the decoder.
    QImage column(1, 1000000, QImage::Format_ARGB32);
    column.fill(Qt::red);
    f["column-1000000.png"] = makePng(column, {6});
    // 200 entries sharing one 4 KB stream that unpacks to 1 MiB.
    const QByteArray mebibyte = refpCompress(QByteArray(1 << 20, 0));
    QByteArray sharing;
    for (int i = 0; i < 200; ++i)
        sharing += record(0, quint32(mebibyte.size()), "s" + QByteArray::number(1000 + i));
    const quint32 sharedStart = quint32(16 + sharing.size());
    sharing.clear();
    for (int i = 0; i < 200; ++i)
        sharing +=
            record(sharedStart, quint32(mebibyte.size()), "s" + QByteArray::number(1000 + i));
    f["shared-stream-200.big"] = header(200) + sharing + mebibyte;
    // A 16 KB archive compressed whole that unpacks to 4 MiB, with an entry
    // at its end: list needs its directory alone, info a pass to the end.
    f["whole-4mib.big"] =
        refpCompress(big({{"zeros.bin", QByteArray(4 << 20, 0)}, {"end.ini", "k=v"}}));
    // A good picture cut short, and its header alone.
    const QByteArray good = makeTpi(64, 64, {tpiBlockOf(patternImage(64, 64, true), 0x7D)});
    f["cut-1000.tpi"] = good.left(1000);
    f["header-only.tpi"] = good.left(20);
}

Files hostile()
{
    Files f;
    const QByteArray two = record(0, 0, "one") + record(0, 0, "two");
    // Archives.
    f["empty.big"] = "";
    f["three-bytes.big"] = "BIG";
    f["wrong-signature.big"] = "FGIB" + QByteArray(12, '\0');
    f["cut-directory.big"] = header(5) + two + "\0\0\0";
    f["count-4294967295.big"] = header(0xFFFFFFFFu) + two;
    f["offsets-past-end.big"] =
        header(2) + record(0x7FFFFFF0u, 16, "a.ini") + record(0xFFFFFFF0u, 8, "b.png");
    f["negative-sizes.big"] =
        header(2) + record(40, 0xFFFFFFFFu, "a.ini") + record(40, 0x80000000u, "b.tga");
    f["hostile-paths.big"] = big({{"..\\..\\x", "1"},
                                  {"a\\..\\..\\x", "2"},
                                  {"\\x", "3"},
                                  {"/x", "4"},
                                  {"C:\\x", "5"},
                                  {"a\\\\b", "6"},
                                  {"bell\x07", "7"},
                                  {"ok.ini", "8"}});
    f["deep-path.big"] = big({{QByteArray(100000, '\\') + "x.ini", "deep"}});
    f["damaged-whole.big"] = refpCompress(big({{"a", "b"}})).chopped(3);
    f["whole-declares-4gib.big"] = QByteArray("\x90\xFB\xFF\xFF\xFF\xFF\xFC", 7);
    f["entry-declares-4gib.big"] = big({{"a.ini", QByteArray("\x90\xFB\xFF\xFF\xFF\xFF\xE0"
                                                             "abcd",
                                                             11)}});
    f["entry-refp-damaged.big"] = big({{"a.png", refpCompress(QByteArray(5000, 'x')).chopped(2)}});
    // Refp streams.
    f["declares-4gib.refp"] = QByteArray("\x90\xFB\xFF\xFF\xFF\xFF\xFC", 7);
    f["cut.refp"] = refpCompress(QByteArray("hello hello hello hello")).chopped(2);
    f["offset-before-start.refp"] = QByteArray("\x10\xFB\x00\x00\x03\x00\x00\xFC", 8);
    f["overlong.refp"] = QByteArray("\x10\xFB\x00\x00\x02\xE0"
                                    "abcd\xFC",
                                    11);
    f["not-refp.refp"] = "plain bytes";
    // Images.
    const QImage small = patternImage(16, 16, true);
    const QByteArray png = makePng(small, {6});
    f["not-png.png"] = "GIF89a not a png";
    f["palette.png"] = makePng(small, {3});
    f["sixteen-bit.png"] = makePng(small, {6, 16});
    f["cut-idat.png"] = png.left(png.indexOf("IDAT") + 20);
    QByteArray badCrc = png;
    badCrc[png.indexOf("IDAT") + 10] = char(badCrc[png.indexOf("IDAT") + 10] ^ 0x40);
    f["bad-crc.png"] = badCrc;
    QByteArray hugePng = png;
    hugePng.replace(16, 8, be32(30000) + be32(30000));
    f["huge-ihdr.png"] = hugePng;
    // 1 x 2^28 pixels, within the size cap, behind a few bytes of image data.
    const QByteArray onePixel = makePng(patternImage(1, 1, true), {6});
    QByteArray ihdr = "IHDR" + be32(1) + be32(1u << 28) + QByteArray("\x08\x06\0\0\0", 5);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef *>(ihdr.constData()), uInt(ihdr.size()));
    f["tall-few-bytes.png"] =
        onePixel.left(8) + be32(13) + ihdr + be32(quint32(crc)) + onePixel.mid(33);
    f["tiny.tga"] = QByteArray(10, '\0');
    f["colour-mapped.tga"] = makeTga(1, 8, 4, 4, 0, QByteArray(16, 0));
    f["cut-plain.tga"] = makeTga(2, 32, 64, 64, 0, QByteArray(100, '\x55'));
    f["rle-runs-out.tga"] = makeTga(10, 24, 64, 64, 0, QByteArray("\xFF\x01\x02", 3));
    f["rle-past-end.tga"] =
        makeTga(10, 32, 2, 2, 0, QByteArray("\xFF\x01\x02\x03\x04", 5).repeated(4));
    f["huge.tga"] = makeTga(2, 32, 32767, 32767, 0, QByteArray(64, '\x7F'));
    f["no-pixels-16384.tga"] = makeTga(2, 32, 16384, 16384, 0, {});
    f["rle-few-packets-16384.tga"] =
        makeTga(10, 32, 16384, 16384, 0, QByteArray("\xFF\x01\x02\x03\x04", 5).repeated(8));
    f["negative-size.tga"] = makeTga(2, 24, 0x8000, 0x8000, 0, QByteArray(64, 0));
    f["huge-colour-map.tga"] =
        makeTga(2, 24, 4, 4, 0, QByteArray(48, 0), {}, QByteArray(3, 0), 24) +
        QByteArray(2, '\xFF');
    f["tiny.tpi"] = "1IPT";
    f["reversed-magic.tpi"] = "TPI1" + tpiHeader(4, 4, 0).mid(4);
    f["records-past-end.tpi"] = tpiHeader(64, 64, 500) + QByteArray("\xFF\xFF\x00\x00", 4) + "abc";
    f["block-short-header.tpi"] =
        tpiHeader(8, 8, 1) + QByteArray("\x06\x00\x00\x00", 4) + "\x7D\0\0\0\x08\0";
    f["dxt-short.tpi"] = makeTpi(64, 64, {{0x62, 64, 64, QByteArray(40, '\x33')}});
    f["refp-damaged.tpi"] =
        makeTpi(8, 8, {tpiBlockOf(patternImage(8, 8, true), 0x7D)}, true).chopped(3);
    f["huge.tpi"] = tpiHeader(65535, 65535, 0);
    f["few-blocks-16384.tpi"] = makeTpi(16384, 16384, {tpiBlockOf(patternImage(8, 8, true), 0x7D)});
    f["refp-blocks-16384.tpi"] =
        makeTpi(16384, 16384, {tpiBlockOf(patternImage(8, 8, true), 0x60)}, true);
    f["block-huge-dims.tpi"] = makeTpi(16, 16,
                                       {{0x7D, 65535, 65535, QByteArray(64, '\x11')},
                                        {0x60, 65535, 65535, QByteArray(64, '\x22')}});
    hostileWork(f);
    return f;
}

bool writeAll(const QString &dir, const Files &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        const QString path = dir + QLatin1Char('/') + it.key();
        QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size()) {
            std::fprintf(stderr, "makeseeds: cannot write %s\n", qPrintable(path));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 || (args[1] != "--seeds" && args[1] != "--hostile")) {
        std::fprintf(stderr, "usage: makeseeds --seeds DIR | --hostile DIR\n");
        return 2;
    }
    return writeAll(args[2], args[1] == "--seeds" ? seeds() : hostile()) ? 0 : 1;
}
