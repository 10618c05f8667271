// Refp codec speed and ratio beside zlib (level 6) and LZ4 (default and HC
// level 9), all on one deterministic 64 MiB corpus in the same run, with
// memcpy as the ceiling.

#include "benchutil.h"
#include "gfxcore.h"

#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
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

// Text: words with a skewed frequency, sentences and line breaks.
void appendText(Bytes &out, size_t n, Random &random)
{
    std::vector<std::string> words;
    for (int i = 0; i < 2000; ++i) {
        std::string w;
        const int length = 2 + int(random.next() % 9);
        for (int k = 0; k < length; ++k)
            w += char('a' + random.next() % 26);
        words.push_back(w);
    }
    const size_t end = out.size() + n;
    while (out.size() < end) {
        const uint32_t r = random.next();
        // Squaring a uniform number favours the first words, as in real text.
        const double u = double(r % 100000) / 100000.0;
        const std::string &w = words[size_t(u * u * u * double(words.size()))];
        out.insert(out.end(), w.begin(), w.end());
        out.push_back((r >> 20) % 11 == 0 ? '\n' : ' ');
    }
    out.resize(end);
}

// Binary: fixed-size records of counters, small deltas, flags and ids, with
// runs of padding and stretches of random bytes.
void appendBinary(Bytes &out, size_t n, Random &random)
{
    const size_t end = out.size() + n;
    uint32_t counter = 0, value = 1000;
    while (out.size() < end) {
        if (random.next() % 64 == 0) {
            for (int i = int(random.next() % 512); i > 0; --i)
                out.push_back(uint8_t(random.next()));
            continue;
        }
        uint8_t record[32] = {};
        counter += 1;
        value += random.next() % 16 - 7;
        std::memcpy(record, &counter, 4);
        std::memcpy(record + 4, &value, 4);
        record[8] = uint8_t(random.next() % 4);
        const uint32_t id = random.next() % 300;
        std::memcpy(record + 12, &id, 4);
        out.insert(out.end(), record, record + sizeof record);
    }
    out.resize(end);
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

Bytes makeCorpus()
{
    Random random;
    Bytes corpus;
    corpus.reserve(64u << 20);
    // Interleave the kinds in 4 MiB pieces, as files in an archive would be.
    for (int i = 0; i < 16; ++i) {
        switch (i % 3) {
        case 0: appendText(corpus, 4u << 20, random); break;
        case 1: appendBinary(corpus, 4u << 20, random); break;
        default: appendImage(corpus, 4u << 20, random); break;
        }
    }
    return corpus;
}

struct Row
{
    const char *name;
    size_t compressed;
    double encodeSeconds;
    double decodeSeconds;
};

void printRow(const Row &row, size_t n)
{
    if (row.compressed)
        std::printf("%-14s %8.3f %12.1f %12.1f\n", row.name, double(n) / double(row.compressed),
                    bench::megabytesPerSecond(n, row.encodeSeconds),
                    bench::megabytesPerSecond(n, row.decodeSeconds));
    else
        std::printf("%-14s %8s %12.1f %12.1f\n", row.name, "-",
                    bench::megabytesPerSecond(n, row.encodeSeconds),
                    bench::megabytesPerSecond(n, row.decodeSeconds));
}

} // namespace

int main(int argc, char **argv)
{
    const Bytes corpus = makeCorpus();
    // "--write-corpus FILE" saves the corpus for other tools and stops.
    if (argc == 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
        FILE *file = std::fopen(argv[2], "wb");
        const bool ok = file && std::fwrite(corpus.data(), 1, corpus.size(), file) == corpus.size();
        return (file && std::fclose(file) == 0 && ok) ? 0 : 1;
    }
    const size_t n = corpus.size();
    const int decodeRuns = 5;
    Bytes out(n + 64);
    std::vector<Row> rows;

    // memcpy: the ceiling for both directions.
    {
        const double t =
            bench::bestSeconds(decodeRuns, [&] { std::memcpy(out.data(), corpus.data(), n); });
        rows.push_back({"memcpy", 0, t, t});
    }

    // zlib level 6.
    {
        uLongf length = compressBound(uLong(n));
        Bytes packed(length);
        const double enc = bench::bestSeconds(1, [&] {
            length = compressBound(uLong(n));
            compress2(packed.data(), &length, corpus.data(), uLong(n), 6);
        });
        const double dec = bench::bestSeconds(decodeRuns, [&] {
            uLongf size = uLongf(n);
            uncompress(out.data(), &size, packed.data(), length);
        });
        if (std::memcmp(out.data(), corpus.data(), n) != 0)
            std::fprintf(stderr, "zlib round trip failed\n");
        rows.push_back({"zlib -6", length, enc, dec});
    }

    // LZ4 default and HC level 9.
    for (int level : {0, 9}) {
        Bytes packed(static_cast<size_t>(LZ4_compressBound(int(n))));
        int length = 0;
        const double enc = bench::bestSeconds(1, [&] {
            const char *src = reinterpret_cast<const char *>(corpus.data());
            char *dst = reinterpret_cast<char *>(packed.data());
            length = level ? LZ4_compress_HC(src, dst, int(n), int(packed.size()), level)
                           : LZ4_compress_default(src, dst, int(n), int(packed.size()));
        });
        const double dec = bench::bestSeconds(decodeRuns, [&] {
            LZ4_decompress_safe(reinterpret_cast<const char *>(packed.data()),
                                reinterpret_cast<char *>(out.data()), length, int(n));
        });
        if (std::memcmp(out.data(), corpus.data(), n) != 0)
            std::fprintf(stderr, "LZ4 round trip failed\n");
        rows.push_back({level ? "LZ4 HC 9" : "LZ4 default", size_t(length), enc, dec});
    }

    // Refp.
    {
        Bytes packed(GfxCore_CompressBound(n));
        size_t length = 0;
        const double enc = bench::bestSeconds(
            1, [&] { length = GfxCore_Compress(corpus.data(), n, packed.data(), packed.size()); });
        int64_t written = 0;
        const double dec = bench::bestSeconds(
            decodeRuns, [&] { written = GfxCore_Unpack(packed.data(), length, out.data(), n); });
        if (written != int64_t(n) || std::memcmp(out.data(), corpus.data(), n) != 0)
            std::fprintf(stderr, "Refp round trip failed\n");
        rows.push_back({"Refp", length, enc, dec});
    }

    std::printf("Corpus: %zu bytes (text, binary records, RGBA gradients)\n\n", n);
    std::printf("%-14s %8s %12s %12s\n", "codec", "ratio", "encode MB/s", "decode MB/s");
    for (const Row &row : rows)
        printRow(row, n);

    const Row &zlib = rows[1], &lz4 = rows[2], &hc = rows[3], &refp = rows[4];
    auto ratioOf = [n](const Row &r) { return double(n) / double(r.compressed); };
    std::printf("\nTargets, as ratios measured in this run:\n");
    std::printf("  Refp decode / zlib inflate       %6.2f  (at least 4)\n",
                zlib.decodeSeconds / refp.decodeSeconds);
    std::printf("  Refp decode / LZ4 decode         %6.2f  (at least 0.5)\n",
                lz4.decodeSeconds / refp.decodeSeconds);
    std::printf("    (of the LZ4 HC 9 stream:       %6.2f)\n",
                hc.decodeSeconds / refp.decodeSeconds);
    std::printf("  Refp encode / LZ4 HC 9 encode    %6.2f  (at least 1)\n",
                hc.encodeSeconds / refp.encodeSeconds);
    std::printf("  Refp ratio / LZ4 HC 9 ratio      %6.3f  (at least 1)\n",
                ratioOf(refp) / ratioOf(hc));
    return 0;
}
