// Opening a BIG archive and showing its root folder.

#include "vorland.h"

#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "report.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>

void Vorland::openArchive()
{
    const QString fileName = QFileDialog::getOpenFileName(this, tr("Open .BIG archive"), QString(),
                                                          tr("BIG archive (*.big);;All Files (*)"));
    if (fileName.isEmpty())
        return;
    openArchiveFile(fileName);
}

void Vorland::openArchiveFile(const QString &fileName)
{
    // Event handlers must not throw: a tree that does not fit in memory ends
    // the open with a message, and the window shows no archive.
    try {
        openArchiveOrThrow(fileName);
    } catch (const std::bad_alloc &) {
        resetArchive();
        archive.reset();
        archivePath.clear();
        vorland::report(
            QStringLiteral("Not enough memory to open %1.").arg(QFileInfo(fileName).fileName()));
    }
}

void Vorland::openArchiveOrThrow(const QString &fileName)
{
    // Every failure up to the signature test leaves the open archive as it is.
    auto opened = std::make_unique<BigArchive>();
    switch (opened->open(fileName)) {
    case BigArchive::Status::Ok: break;
    case BigArchive::Status::CannotOpen: return;
    case BigArchive::Status::NotBig:
        vorland::report(QStringLiteral("Not a proper BIG file. 'BIGF' signature missed."));
        return;
    case BigArchive::Status::DamagedCompression:
        vorland::report(QStringLiteral("The archive is compressed, but its data is damaged and "
                                       "cannot be unpacked."));
        return;
    case BigArchive::Status::TooLarge: // no limit is set here
    case BigArchive::Status::NoMemory:
        vorland::report(
            QStringLiteral("Not enough memory to open %1.").arg(QFileInfo(fileName).fileName()));
        return;
    }

    if (opened->longPaths > 0)
        vorland::report(QStringLiteral("%1 entries have paths longer than 64 KiB and are left out.")
                            .arg(opened->longPaths));
    resetArchive();
    fileCountLabel->setText(QStringLiteral("Number of files: %1").arg(opened->entryCount));
    buildFolderTree(model->rootFolder, opened->entries);
    // The tree holds what the window needs of the directory from here on.
    BigEntries().swap(opened->entries);
    model->refresh();
    pathEdit->setText(QStringLiteral(":\\"));
    setWindowTitle(QStringLiteral("Vorland - ") + QFileInfo(fileName).fileName());
    archivePath = fileName;
    archive = std::move(opened);
}

void Vorland::resetArchive()
{
    model->rootFolder.clear();
    model->currentFolder = &model->rootFolder;
    model->refresh();
    setWindowTitle(QStringLiteral("Vorland"));
}

bool Vorland::reloadChangedArchive(const QString &fileName)
{
    // The folder shown, as names from the root.
    QStringList names;
    for (const ArchiveFolder *f = model->currentFolder; f->parent; f = f->parent)
        names.prepend(f->name);
    auto opened = std::make_unique<BigArchive>();
    if (opened->open(archivePath) != BigArchive::Status::Ok)
        return false;

    model->rootFolder.clear();
    fileCountLabel->setText(QStringLiteral("Number of files: %1").arg(opened->entryCount));
    buildFolderTree(model->rootFolder, opened->entries);
    BigEntries().swap(opened->entries);
    archive = std::move(opened);
    ArchiveFolder *folder = &model->rootFolder;
    for (const QString &name : qAsConst(names)) {
        ArchiveFolder *below = folder->findFolder(name);
        if (!below)
            break;
        folder = below;
    }
    model->currentFolder = folder;
    updatePathText();
    tableView->selectionModel()->reset();
    model->refresh();
    // Making the file of that name current previews it from the new archive.
    for (int i = 0; i < folder->files.size(); ++i) {
        if (folder->files.at(i)->name == fileName) {
            tableView->setCurrentIndex(model->index(folder->folders.size() + i, 0));
            break;
        }
    }
    return true;
}
