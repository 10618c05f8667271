#include "testdata.h"

namespace testdata {
namespace {

// xorshift32: small, fast, and the same everywhere.
struct Random
{
    explicit Random(uint32_t seed) : state(seed ? seed : 1) {}
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    uint32_t state;
};

} // namespace

QByteArray randomBytes(int n, uint32_t seed)
{
    Random random(seed);
    QByteArray bytes(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        bytes[i] = char(random.next() >> 24);
    return bytes;
}

QByteArray text(int n, uint32_t seed)
{
    static const char *const words[] = {
        "the",   "archive", "holds", "a",      "folder", "of",     "files",   "and",
        "each",  "entry",   "has",   "an",     "offset", "size",   "path",    "window",
        "table", "preview", "shows", "image",  "text",   "font",   "opened",  "reader",
        "bytes", "stream",  "block", "pixels", "under",  "before", "between", "colour",
    };
    Random random(seed);
    QByteArray out;
    out.reserve(n + 16);
    while (out.size() < n) {
        // Skewed choice: low indexes are far more common, as in real text.
        const uint32_t r = random.next();
        out += words[(r & 31) & ((r >> 5) & 31)];
        out += (r >> 10) % 13 == 0 ? ".\n" : " ";
    }
    out.truncate(n);
    return out;
}

QByteArray bgra(const QImage &image)
{
    QByteArray out;
    for (int y = 0; y < image.height(); ++y)
        out +=
            QByteArray(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 4);
    return out;
}

} // namespace testdata
