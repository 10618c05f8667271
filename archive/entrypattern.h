#pragma once

#include <QByteArray>
#include <QString>

// A name or shell-style pattern for entry paths, the same in every verb.
//
// A name without wildcards matches the entry of exactly that path, "/" and
// "\" alike. With "*", "?" or "[...]" it is a pattern matched against the
// whole path, ignoring case (as file types do) and with "/" and "\" alike;
// "*" also matches folder separators, as in unzip and tar. "[...]" takes a
// set or ranges of characters, "[!...]" or "[^...]" the characters outside
// it; a "[" without its "]" stands for itself.
//
// A text that is exactly the path of an entry names that entry, wildcards
// or not ("a[1].txt" picks the entry a[1].txt): build it with forEntries().
class EntryPattern
{
public:
    enum Kind
    {
        NameOrPattern, // a pattern when it holds wildcards
        Name,          // always the exact path, "[", "*" and "?" included
    };
    explicit EntryPattern(const QString &text, Kind kind = NameOrPattern);
    // A Name when some entry of `entries` (anything with a `path`) has
    // exactly the path `text`, else as the text reads.
    template <typename Entries>
    static EntryPattern forEntries(const QString &text, const Entries &entries)
    {
        const EntryPattern name(text, Name);
        for (const auto &entry : entries) {
            if (name.matches(entry.path))
                return name;
        }
        return EntryPattern(text);
    }

    bool matches(const QByteArray &storedPath) const;
    // The path as patterns see it: "/" as "\\" and case folded (the Latin-1
    // letters included). Two paths a pattern cannot tell apart fold alike.
    static QByteArray folded(const QByteArray &storedPath);
    // The same of the `n` bytes at `p`, into `out` (room for `n`).
    static void fold(const char *p, size_t n, char *out);
    bool isWildcard() const { return wildcard; }
    QString text() const { return original; }

private:
    QString original;
    QByteArray pattern; // 8-bit, "\" separated, folded to lower case when a pattern
    bool wildcard = false;
    bool representable = true; // false when the text has characters beyond 8 bits
};
