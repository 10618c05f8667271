#include "bigbuilder.h"

#include "testdata.h"

#include <QFile>

#include <vector>

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

QByteArray sampleText()
{
    return testdata::text(20000);
}

QVector<SampleEntry> sampleEntries()
{
    return {{"data\\art\\logo.tga", "TGA bytes"},
            {"data\\notes.txt", sampleText(), true},
            {"readme", "plain"},
            {"music.mp3", ""}};
}
