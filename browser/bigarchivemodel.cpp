#include "bigarchivemodel.h"

#include <QLocale>

QString formatSize(quint32 size)
{
    if (size >= 1 && size <= 1023)
        return QStringLiteral("1 KB");
    // Single precision on purpose: from 16 MiB upward the float may round
    // up, and the table shows what that gives (33,554,431 bytes: 32768 KB).
    const float bytes = float(size);
    const float kilobytes = bytes * (1.0f / 1024.0f);
    return QLocale::c().toString(quint32(kilobytes)) + QStringLiteral(" KB");
}

BigArchiveModel::BigArchiveModel(QObject *parent)
    : QAbstractTableModel(parent), rootFolder(true, nullptr, QStringLiteral("$root$")),
      currentFolder(&rootFolder), fileIcon(new QIcon(QStringLiteral(":/Vorland/file.png"))),
      folderIcon(new QIcon(QStringLiteral(":/Vorland/folder.png")))
{
}

BigArchiveModel::~BigArchiveModel()
{
    delete fileIcon;
    delete folderIcon;
}

// A table's cells have no children: under a valid parent both counts are 0.
int BigArchiveModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : currentFolder->folders.size() + currentFolder->files.size();
}

int BigArchiveModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant BigArchiveModel::data(const QModelIndex &index, int role) const
{
    const int row = index.row();
    const int column = index.column();
    const int folderRows = currentFolder->folders.size();
    if (!index.isValid() || row < 0 || row >= folderRows + currentFolder->files.size())
        return QVariant();
    const bool isFolder = row < folderRows;

    switch (role) {
    case Qt::DisplayRole:
        if (isFolder) {
            const ArchiveFolder *folder = currentFolder->folders.at(row);
            switch (column) {
            case 0: return folder->name;
            case 1: return QStringLiteral("Folder");
            case 2: return QString();
            }
        } else {
            const ArchiveFile *file = currentFolder->files.at(row - folderRows);
            switch (column) {
            case 0: return file->name;
            case 1: return file->typeText();
            case 2: return formatSize(quint32(file->size));
            }
        }
        return QVariant();
    case Qt::DecorationRole:
        if (column == 0)
            return isFolder ? QVariant(*folderIcon) : QVariant(*fileIcon);
        return QVariant();
    case Qt::TextAlignmentRole:
        if (column == 2)
            return int(Qt::AlignRight);
        return QVariant();
    default: return QVariant();
    }
}

QVariant BigArchiveModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0: return QStringLiteral("Name");
    case 1: return QStringLiteral("Type");
    case 2: return QStringLiteral("Size");
    default: return QVariant();
    }
}

void BigArchiveModel::refresh()
{
    const QModelIndex topLeft = index(0, 0);
    const QModelIndex bottomRight = index(rowCount() - 1, columnCount() - 1);
    emit dataChanged(topLeft, bottomRight, {});
    emit layoutChanged({}, QAbstractItemModel::NoLayoutChangeHint);
}
