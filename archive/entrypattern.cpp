#include "entrypattern.h"

#include <QChar>

namespace {

// The 8-bit character as matching sees it: "/" is "\", and a pattern folds
// case (the Latin-1 letters included).
struct FoldTable
{
    uchar of[256];
    FoldTable()
    {
        for (int c = 0; c < 256; ++c) {
            const ushort f = QChar(c).toCaseFolded().unicode();
            of[c] = c == '/'    ? '\\'
                    : f <= 0xFF ? uchar(f)
                                : uchar(c); // the micro sign folds outside 8 bits
        }
    }
};
const FoldTable foldTable;

inline uchar foldedByte(uchar c)
{
    return foldTable.of[c];
}

// Where the bracket expression starting at `open` ends (the index of its
// "]"), or -1 when it has none and the "[" stands for itself.
int bracketEnd(const QByteArray &p, int open)
{
    int i = open + 1;
    if (i < p.size() && (p[i] == '!' || p[i] == '^'))
        ++i;
    if (i < p.size() && p[i] == ']')
        ++i; // a "]" first in the set is one of its characters
    for (; i < p.size(); ++i) {
        if (p[i] == ']')
            return i;
    }
    return -1;
}

bool inBracket(const QByteArray &p, int open, int close, uchar c)
{
    int i = open + 1;
    const bool negated = p[i] == '!' || p[i] == '^';
    if (negated)
        ++i;
    bool found = false;
    for (; i < close; ++i) {
        const uchar low = uchar(p[i]);
        if (i + 2 < close && p[i + 1] == '-') {
            found = found || (c >= low && c <= uchar(p[i + 2]));
            i += 2;
        } else {
            found = found || c == low;
        }
    }
    return found != negated;
}

// Glob matching with one backtracking point per "*", which is linear in
// practice and never exponential.
bool globMatch(const QByteArray &p, const QByteArray &s)
{
    int pi = 0, si = 0, starP = -1, starS = 0;
    while (si < s.size()) {
        const uchar c = foldedByte(uchar(s[si]));
        if (pi < p.size()) {
            const char pc = p[pi];
            if (pc == '*') {
                starP = pi++;
                starS = si;
                continue;
            }
            if (pc == '?') {
                ++pi;
                ++si;
                continue;
            }
            if (pc == '[') {
                const int close = bracketEnd(p, pi);
                if (close >= 0) {
                    if (inBracket(p, pi, close, c)) {
                        pi = close + 1;
                        ++si;
                        continue;
                    }
                } else if (c == '[') {
                    ++pi;
                    ++si;
                    continue;
                }
            } else if (uchar(pc) == c) {
                ++pi;
                ++si;
                continue;
            }
        }
        if (starP < 0)
            return false;
        pi = starP + 1;
        si = ++starS;
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

} // namespace

EntryPattern::EntryPattern(const QString &text, Kind kind) : original(text)
{
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            representable = false;
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('['))
            wildcard = kind == NameOrPattern;
    }
    pattern = text.toLatin1();
    for (char &c : pattern)
        c = char(wildcard ? foldedByte(uchar(c)) : (c == '/' ? '\\' : c));
}

QByteArray EntryPattern::folded(const QByteArray &storedPath)
{
    QByteArray out(storedPath.size(), Qt::Uninitialized);
    fold(storedPath.constData(), size_t(storedPath.size()), out.data());
    return out;
}

void EntryPattern::fold(const char *p, size_t n, char *out)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = char(foldedByte(uchar(p[i])));
}

bool EntryPattern::matches(const QByteArray &storedPath) const
{
    if (!representable)
        return false;
    if (wildcard)
        return globMatch(pattern, storedPath);
    if (storedPath.size() != pattern.size())
        return false;
    for (int i = 0; i < pattern.size(); ++i) {
        const char c = storedPath[i] == '/' ? '\\' : storedPath[i];
        if (c != pattern[i])
            return false;
    }
    return true;
}
