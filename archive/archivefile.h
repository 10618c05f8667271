#pragma once

#include <QString>

class ArchiveFolder;

// The kinds of file that the program tells apart, by the upper-cased
// extension of the name.
enum class FileType
{
    Other = 0,
    Ini = 1,
    Csv = 2,
    Bmp = 3,
    Fsh = 4,
    Tpi = 5,
    Tga = 6,
    Png = 7,
    O = 8,
    Xml = 9,
    Ttf = 10,
};

// One entry of an archive's directory. Owned by the folder that holds it.
class ArchiveFile
{
public:
    // Stores the four values; the type follows from the name's extension.
    ArchiveFile(ArchiveFolder *folder, const QString &name, qint32 size, qint32 offset);

    // The text after the last "." of the name, upper-cased; empty without ".".
    QString extension() const;
    // Display name of the type: "TGA Image", "TrueType Font", ... and "File"
    // for FileType::Other or any value outside the enumeration.
    QString typeName() const;
    // What the Type column shows: the display name of a known type, else
    // "%1 File" with the extension, or "File" without one.
    QString typeText() const;

    ArchiveFolder *folder; // not owned
    QString name;
    qint32 size;   // stored length in bytes (taken as unsigned where it locates data)
    qint32 offset; // from the start of the archive (likewise)
    FileType type;
};
