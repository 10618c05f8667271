#include "bigbuilder.h"

#include "bigwriter.h"

#include <QFile>

#include <vector>

QByteArray makeBig(const QVector<TestEntry> &entries)
{
    std::vector<BigEntry> records(size_t(entries.size()));
    QVector<QByteArray> stored;
    for (int i = 0; i < entries.size(); ++i) {
        records[size_t(i)].path = entries[i].path;
        stored << (entries[i].compress ? refpCompress(entries[i].data) : entries[i].data);
    }
    quint64 offset = bigDirectoryEnd(records);
    QByteArray data;
    for (int i = 0; i < entries.size(); ++i) {
        records[size_t(i)].offset = qint32(offset);
        records[size_t(i)].size = stored[i].size();
        offset += quint64(stored[i].size());
        data += stored[i];
    }
    return bigHeaderAndDirectory(records, quint32(offset)) + data;
}

QByteArray bigHeader(quint32 entryCount, quint32 archiveSize, quint32 headerLength,
                     const QByteArray &signature)
{
    QByteArray out = signature;
    for (int shift = 0; shift < 32; shift += 8)
        out += char(archiveSize >> shift);
    for (quint32 v : {entryCount, headerLength}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += char(v >> shift);
    }
    return out;
}

QByteArray bigRecord(qint32 offset, qint32 size, const QByteArray &path, bool terminated)
{
    QByteArray out;
    for (quint32 v : {quint32(offset), quint32(size)}) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out += char(v >> shift);
    }
    out += path;
    if (terminated)
        out += '\0';
    return out;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
