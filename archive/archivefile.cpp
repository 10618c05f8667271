#include "archivefile.h"

#include <QLatin1String>

namespace {

struct Kind
{
    const char *extension;
    FileType type;
};

// In the order the extensions are compared.
const Kind kinds[] = {
    {"BMP", FileType::Bmp}, {"INI", FileType::Ini}, {"CSV", FileType::Csv}, {"FSH", FileType::Fsh},
    {"TPI", FileType::Tpi}, {"TGA", FileType::Tga}, {"PNG", FileType::Png}, {"O", FileType::O},
    {"XML", FileType::Xml}, {"TTF", FileType::Ttf},
};

} // namespace

ArchiveFile::ArchiveFile(ArchiveFolder *folder, const QString &name, qint32 size, qint32 offset)
    : folder(folder), name(name), size(size), offset(offset), type(FileType::Other)
{
    const QString ext = extension();
    if (ext.isEmpty())
        return;
    for (const Kind &kind : kinds) {
        if (ext == QLatin1String(kind.extension)) {
            type = kind.type;
            return;
        }
    }
}

QString ArchiveFile::extension() const
{
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toUpper();
}

QString ArchiveFile::typeName() const
{
    switch (type) {
    case FileType::Ini: return QStringLiteral("INI Settings");
    case FileType::Csv: return QStringLiteral("CSV File");
    case FileType::Bmp: return QStringLiteral("Bitmap Image");
    case FileType::Fsh: return QStringLiteral("FSH Image");
    case FileType::Tpi: return QStringLiteral("TPI Image");
    case FileType::Tga: return QStringLiteral("TGA Image");
    case FileType::Png: return QStringLiteral("PNG Image");
    case FileType::O: return QStringLiteral("O File");
    case FileType::Xml: return QStringLiteral("XML File");
    case FileType::Ttf: return QStringLiteral("TrueType Font");
    case FileType::Other: break;
    }
    return QStringLiteral("File");
}

QString ArchiveFile::typeText() const
{
    if (type != FileType::Other)
        return typeName();
    const QString ext = extension();
    return ext.isEmpty() ? QStringLiteral("File") : QStringLiteral("%1 File").arg(ext);
}
