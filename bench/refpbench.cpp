// Refp at each level beside LZ4 (default and HC level 9) and beside the
// encoder and decoder Refp had before (kept in refpreference*.cpp), on each
// kind of content and on a mixed 64 MiB corpus, all in the same run, with
// zlib level 6 and memcpy as further anchors; then pack --compress on one
// thread and on all. Decode figures are the best of several runs, taken in
// turns.

#include "benchutil.h"
#include "gfxcore.h"
#include "picturecorpus.h"
#include "refpreference.h"

#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLibraryInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Random
{
    uint64_t state = 0x9E3779B97F4A7C15ull;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return uint32_t(state >> 16);
    }
};

// Files of one kind, read whole in name order and joined: the corpus's real
// text and binaries come from the Qt that Vorland builds against, which every
// build machine has. Empty when none can be read.
Bytes joinedFiles(const QString &folder, const QStringList &patterns, bool recursive)
{
    QStringList paths;
    QDirIterator it(folder, patterns, QDir::Files | QDir::NoSymLinks,
                    recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    Bytes out;
    for (const QString &path : paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = file.readAll();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

// `n` bytes of `source` from `at` on, starting over at its end; the pieces
// repeat only far beyond any codec's window here.
void appendFrom(Bytes &out, const Bytes &source, size_t &at, size_t n)
{
    for (size_t left = n; left > 0;) {
        at %= source.size();
        const size_t take = std::min(left, source.size() - at);
        out.insert(out.end(), source.begin() + long(at), source.begin() + long(at + take));
        at += take;
        left -= take;
    }
}

// Image-like: RGBA rows of smooth gradients with a little noise.
void appendImage(Bytes &out, size_t n, Random &random)
{
    const size_t end = out.size() + n;
    const int width = 1024;
    for (int y = 0; out.size() < end; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t noise = random.next() % 5;
            out.push_back(uint8_t(x / 4 + noise));
            out.push_back(uint8_t(y + noise));
            out.push_back(uint8_t(128 + 100 * std::sin((x + y) / 60.0)));
            out.push_back(255);
        }
    }
    out.resize(end);
}

// Noise: a smooth picture's RGB under noise as strong as the picture, with
// opaque alpha. It barely compresses, but holds a 3-byte match here and there.
void appendNoise(Bytes &out, size_t n, Random &random)
{
    const size_t end = out.size() + n;
    for (int y = 0; out.size() < end; ++y) {
        for (int x = 0; x < 1024; ++x) {
            const double plasma = 128 + 60 * std::sin(x / 37.0) + 60 * std::cos(y / 23.0);
            for (int c = 0; c < 3; ++c)
                out.push_back(
                    uint8_t(std::min(255.0, std::max(0.0, plasma + int(random.next() % 96) - 48))));
            out.push_back(255);
        }
    }
    out.resize(end);
}

struct Sources
{
    Bytes text;     // Qt's C++ headers
    Bytes binaries; // Qt's shared libraries
};

Sources readSources()
{
    return {joinedFiles(QLibraryInfo::location(QLibraryInfo::HeadersPath), {"*.h"}, true),
            joinedFiles(QLibraryInfo::location(QLibraryInfo::LibrariesPath), {"libQt5*.so.5.*"},
                        false)};
}

// A third each of text, binaries and RGBA pixels, in 4 MiB pieces taken in
// turns, as files in an archive would be.
Bytes makeMixed(const Sources &sources)
{
    Random random;
    Bytes corpus;
    corpus.reserve(64u << 20);
    size_t textAt = 0, binariesAt = 0;
    for (int i = 0; i < 16; ++i) {
        switch (i % 3) {
        case 0: appendFrom(corpus, sources.text, textAt, 4u << 20); break;
        case 1: appendFrom(corpus, sources.binaries, binariesAt, 4u << 20); break;
        default: appendImage(corpus, 4u << 20, random); break;
        }
    }
    return corpus;
}

Bytes makeKind(int kind, const Sources &sources)
{
    Random random;
    random.state += uint64_t(kind) * 7919;
    Bytes out;
    const size_t n = 8u << 20;
    size_t at = 0;
    switch (kind) {
    case 0: appendFrom(out, sources.text, at, n); break;
    case 1: appendFrom(out, sources.binaries, at, n); break;
    case 2: appendImage(out, n, random); break;
    default: appendNoise(out, n, random); break;
    }
    return out;
}

constexpr int kDecodeRuns = 5;

struct Measured
{
    double ratio = 0;
    double encodeMBs = 0;
    double decodeMBs = 0;
    double referenceDecodeMBs = 0; // today's decoder on the same stream
};

// One content at one level (0: the reference encoder), beside the LZ4
// decoder's best on the LZ4 stream.
Measured measure(const Bytes &in, int level)
{
    const size_t n = in.size();
    Bytes stream(GfxCore_CompressBound(n)), out(n);
    size_t length = 0;
    const double enc = bench::bestSeconds(1, [&] {
        length = level ? GfxCore_CompressLevel(in.data(), n, stream.data(), stream.size(), level)
                       : refpreference::encode(in.data(), n, stream.data());
    });
    const size_t header = GfxCore_HeaderLength(stream.data(), length);
    double now = 1e30, before = 1e30;
    for (int run = 0; run < kDecodeRuns; ++run) {
        now = std::min(now, bench::bestSeconds(
                                1, [&] { GfxCore_Unpack(stream.data(), length, out.data(), n); }));
        before = std::min(before, bench::bestSeconds(1, [&] {
                              refpreference::decode(stream.data() + header, length - header,
                                                    out.data(), n);
                          }));
    }
    if (std::memcmp(out.data(), in.data(), n) != 0)
        std::fprintf(stderr, "Refp round trip failed at level %d\n", level);
    return {double(n) / double(length), bench::megabytesPerSecond(n, enc),
            bench::megabytesPerSecond(n, now), bench::megabytesPerSecond(n, before)};
}

struct Lz4
{
    double decodeMBs = 0;
    double ratio = 0;
    double hcRatio = 0;
};

Lz4 measureLz4(const Bytes &in)
{
    const int n = int(in.size());
    const char *src = reinterpret_cast<const char *>(in.data());
    std::vector<char> packed(static_cast<size_t>(LZ4_compressBound(n)));
    std::vector<char> out(static_cast<size_t>(n));
    const int length = LZ4_compress_default(src, packed.data(), n, int(packed.size()));
    const double dec = bench::bestSeconds(
        kDecodeRuns, [&] { LZ4_decompress_safe(packed.data(), out.data(), length, n); });
    const int hc = LZ4_compress_HC(src, packed.data(), n, int(packed.size()), 9);
    return {bench::megabytesPerSecond(size_t(n), dec), double(n) / length, double(n) / hc};
}

// Seconds vorland-cli takes to run `arguments`, best of three.
double cliSeconds(const QStringList &arguments)
{
    const QString cli = QCoreApplication::applicationDirPath() + "/vorland-cli";
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (QProcess::execute(cli, arguments) != 0)
            return -1;
        best = std::min(best, double(timer.nsecsElapsed()) / 1e9);
    }
    return best;
}

bool writeFile(const QString &path, const Bytes &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(reinterpret_cast<const char *>(bytes.data()), qint64(bytes.size())) ==
               qint64(bytes.size());
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Sources sources = readSources();
    if (sources.text.empty() || sources.binaries.empty()) {
        std::fprintf(stderr, "refpbench: cannot read Qt's headers or libraries\n");
        return 1;
    }
    const Bytes mixed = makeMixed(sources);
    // "--write-corpus FILE" saves the mixed corpus for other tools and stops.
    if (argc == 3 && std::strcmp(argv[1], "--write-corpus") == 0)
        return writeFile(QString::fromLocal8Bit(argv[2]), mixed) ? 0 : 1;

    // The contents made here, then real pictures and noise-like pixels, then
    // the mix. Pictures come from the system's wallpaper packages.
    std::vector<const char *> names = {"text", "binaries", "RGBA", "noise"};
    std::vector<Bytes> contents;
    for (int kind = 0; kind < 4; ++kind)
        contents.push_back(makeKind(kind, sources));
    const size_t pictureBytes = 8u << 20;
    const Bytes photos = picturecorpus::wallpapers({".jpg", ".jpeg"}, pictureBytes);
    const Bytes artwork = picturecorpus::wallpapers({".png"}, pictureBytes);
    if (photos.empty() || artwork.empty()) {
        std::fprintf(stderr,
                     "refpbench: no photographs or artwork under /usr/share/backgrounds: "
                     "apt-get install %s\n",
                     picturecorpus::kPackages);
        return 1;
    }
    const std::pair<const char *, Bytes> pictures[] = {
        {"photos", photos},
        {"artwork", artwork},
        {"fractal", picturecorpus::fractalNoise(pictureBytes, 1)},
        {"grain", picturecorpus::grainyGradients(pictureBytes, 2)},
        {"noisy art", picturecorpus::withNoise(artwork, 6, 3)},
    };
    for (const auto &picture : pictures) {
        names.push_back(picture.first);
        contents.push_back(picture.second);
    }
    names.push_back("mixed");
    contents.push_back(mixed);
    const int kinds = int(contents.size()), mixIndex = kinds - 1, noiseIndex = 3;

    // The anchors on the mixed corpus: memcpy and zlib.
    const size_t n = mixed.size();
    Bytes out(n + 64);
    const double copy =
        bench::bestSeconds(kDecodeRuns, [&] { std::memcpy(out.data(), mixed.data(), n); });
    uLongf zlength = compressBound(uLong(n));
    Bytes zpacked(zlength);
    compress2(zpacked.data(), &zlength, mixed.data(), uLong(n), 6);
    const double inflate = bench::bestSeconds(kDecodeRuns, [&] {
        uLongf size = uLongf(n);
        uncompress(out.data(), &size, zpacked.data(), zlength);
    });

    std::printf("Contents of about 8 MiB each (text: Qt's headers; binaries: Qt's libraries;\n"
                "RGBA gradients and noise made here; photos and artwork: the JPEG and PNG\n"
                "wallpapers installed, as RGBA; fractal noise, grain over gradients and the\n"
                "artwork under noise, made here), and the 64 MiB mix of the first three. Level\n"
                "0 is the encoder Refp had before. 'vs before' is the decoder Refp had before\n"
                "on the same stream; LZ4 decodes its own default stream. Decoder loop: %s.\n\n",
                std::getenv("GFXCORE_DECODER") ? std::getenv("GFXCORE_DECODER") : "as chosen");
    std::printf("%-9s %5s %7s %8s %9s %9s %8s %8s\n", "content", "level", "ratio", "vs HC 9",
                "enc MB/s", "dec MB/s", "vs before", "vs LZ4");
    std::vector<std::array<Measured, 4>> results(static_cast<size_t>(kinds));
    std::vector<Lz4> lz4(static_cast<size_t>(kinds));
    for (int c = 0; c < kinds; ++c) {
        lz4[size_t(c)] = measureLz4(contents[size_t(c)]);
        for (int level = 0; level <= 3; ++level) {
            const Measured m = measure(contents[size_t(c)], level);
            results[size_t(c)][size_t(level)] = m;
            std::printf("%-9s %5d %7.3f %8.3f %9.1f %9.0f %8.2f %8.2f\n", names[c], level, m.ratio,
                        m.ratio / lz4[size_t(c)].hcRatio, m.encodeMBs, m.decodeMBs,
                        m.decodeMBs / m.referenceDecodeMBs, m.decodeMBs / lz4[size_t(c)].decodeMBs);
        }
        std::printf("%-9s %5s %7.3f %8s %9s %9.0f   (LZ4 default; HC 9 ratio %.3f)\n", names[c],
                    "LZ4", lz4[size_t(c)].ratio, "", "", lz4[size_t(c)].decodeMBs,
                    lz4[size_t(c)].hcRatio);
    }
    std::printf("\nOn the mix: memcpy %.0f MB/s, zlib -6 inflate %.0f MB/s (ratio %.3f)\n",
                bench::megabytesPerSecond(n, copy), bench::megabytesPerSecond(n, inflate),
                double(n) / double(zlength));

    // pack --compress of the contents as files, on one thread and on all.
    QTemporaryDir dir;
    double one = -1, all = -1;
    bool same = false;
    if (dir.isValid() && QDir().mkpath(dir.filePath("files"))) {
        bool written = true;
        for (int c : {0, 1, 2, 3, mixIndex})
            for (int copyIndex = 0; copyIndex < 2; ++copyIndex)
                written =
                    written &&
                    writeFile(dir.filePath(QString("files/%1-%2.bin").arg(names[c]).arg(copyIndex)),
                              contents[size_t(c)]);
        if (written) {
            one = cliSeconds({"pack", "-q", "--compress", "--threads", "1", dir.filePath("files"),
                              "-o", dir.filePath("one.big")});
            all = cliSeconds(
                {"pack", "-q", "--compress", dir.filePath("files"), "-o", dir.filePath("all.big")});
            QFile a(dir.filePath("one.big")), b(dir.filePath("all.big"));
            same = a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly) &&
                   a.readAll() == b.readAll();
        }
    }
    std::printf("pack --compress of 10 files (176 MiB): %.2f s on one thread, %.2f s on %d "
                "(the same archive: %s)\n",
                one, all, QThread::idealThreadCount(), same ? "yes" : "NO");

    const Measured &mix = results[size_t(mixIndex)][2], &mixBefore = results[size_t(mixIndex)][0],
                   &noise = results[size_t(noiseIndex)][2];
    std::printf("\nTargets, as ratios measured in this run (default level unless named):\n");
    std::printf("  mix decode / the decoder before, same stream    %6.2f  (at least 1.3)\n",
                mix.decodeMBs / mix.referenceDecodeMBs);
    std::printf("  mix decode / before, each its own stream        %6.2f\n",
                mix.decodeMBs / mixBefore.referenceDecodeMBs);
    std::printf("  mix decode / LZ4 decode                         %6.2f  (at least 0.5)\n",
                mix.decodeMBs / lz4[size_t(mixIndex)].decodeMBs);
    std::printf("  noise decode / LZ4 decode                       %6.2f  (at least 0.3)\n",
                noise.decodeMBs / lz4[size_t(noiseIndex)].decodeMBs);
    std::printf("  noise ratio / before                            %6.3f  (at least 0.99)\n",
                noise.ratio / results[size_t(noiseIndex)][0].ratio);
    std::printf("  mix ratio / LZ4 HC 9                            %6.3f  (at least 1)\n",
                mix.ratio / lz4[size_t(mixIndex)].hcRatio);
    std::printf("  mix ratio / before                              %6.3f  (at least 0.99)\n",
                mix.ratio / mixBefore.ratio);
    std::printf("  mix fast encode / before's encode               %6.2f  (at least 4)\n",
                results[size_t(mixIndex)][1].encodeMBs / mixBefore.encodeMBs);
    std::printf("  mix best size / before's                        %6.3f  (at most 0.97)\n",
                mixBefore.ratio / results[size_t(mixIndex)][3].ratio);
    std::printf("  pack --compress, all threads / one              %6.2f\n", all / one);
    std::printf("\nPictures, default level: ratio / LZ4 HC 9 (at least 1) and decode / LZ4\n"
                "(at least 0.3):\n");
    for (int c = 2; c < mixIndex; ++c) {
        const Measured &m = results[size_t(c)][2];
        std::printf("  %-10s %6.3f %6.2f\n", names[size_t(c)], m.ratio / lz4[size_t(c)].hcRatio,
                    m.decodeMBs / lz4[size_t(c)].decodeMBs);
    }
    return 0;
}
