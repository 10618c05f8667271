#include "bigbuilder.h"

#include "testdata.h"

#include <QDir>
#include <QFile>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <cstdio>
#endif

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

bool renameOver(const QString &from, const QString &to)
{
#if defined(Q_OS_WIN)
    // A file held open cannot be renamed over, but replaced, as programs
    // that save safely replace it.
    const std::wstring source = QDir::toNativeSeparators(from).toStdWString(),
                       target = QDir::toNativeSeparators(to).toStdWString();
    return ReplaceFileW(target.c_str(), source.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr) ||
           MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QString writtenFile(const QString &path, const QByteArray &bytes)
{
    if (!writeFile(path, bytes))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}
