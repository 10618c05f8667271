#include "bigwriter.h"

namespace {

void putLittle32(QByteArray &out, quint32 v)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += char(v >> shift);
}

void putBig32(QByteArray &out, quint32 v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char(v >> shift);
}

} // namespace

quint64 bigDirectoryEnd(const BigEntries &entries)
{
    quint64 end = 16;
    for (const BigEntry &entry : entries)
        end += 8 + quint64(entry.path.size()) + 1;
    return end;
}

QByteArray bigHeaderAndDirectory(const BigEntries &entries, quint32 archiveSize)
{
    QByteArray out;
    out.reserve(int(bigDirectoryEnd(entries)));
    out += "BIGF";
    putLittle32(out, archiveSize);
    putBig32(out, quint32(entries.size()));
    putBig32(out, quint32(bigDirectoryEnd(entries)));
    for (const BigEntry &entry : entries) {
        putBig32(out, quint32(entry.offset));
        putBig32(out, quint32(entry.size));
        out += entry.path;
        out += '\0';
    }
    return out;
}
