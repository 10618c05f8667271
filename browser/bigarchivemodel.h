#pragma once

#include "archivefolder.h"

#include <QAbstractTableModel>
#include <QIcon>

// Size text of a file: "1 KB" for 1 to 1023 bytes, otherwise the size in
// single precision times 1/1024, truncated, in plain digits, and " KB".
QString formatSize(quint32 size);

// The current folder of the open archive as a read-only table of Name, Type
// and Size: subfolders first, then files, each in archive order.
//
// Whoever changes the tree or currentFolder calls refresh() afterwards, and
// points currentFolder back to rootFolder before the tree below it is cleared.
class BigArchiveModel : public QAbstractTableModel
{
public:
    explicit BigArchiveModel(QObject *parent = nullptr);
    ~BigArchiveModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Tells the views that the whole current folder changed: dataChanged over
    // every cell (invalid corners when it is empty), then layoutChanged.
    void refresh();

    ArchiveFolder rootFolder;
    ArchiveFolder *currentFolder; // never null; rootFolder or below it
    QIcon *fileIcon;
    QIcon *folderIcon;
};
