// Moving between the folders of the open archive.

#include "vorland.h"

#include "bigarchivemodel.h"

#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>

namespace {

// Clears the selection and current index without signals, so the preview
// keeps what it shows, then shows the new folder.
void showFolder(Vorland &window)
{
    window.updatePathText();
    window.tableView->selectionModel()->reset();
    window.model->refresh();
}

} // namespace

void Vorland::enterFolder(const QModelIndex &index)
{
    const int row = index.row();
    if (!index.isValid() || row < 0 || row >= model->currentFolder->folders.size())
        return;
    model->currentFolder = model->currentFolder->folders.at(row);
    showFolder(*this);
}

void Vorland::goUp()
{
    if (!model->currentFolder->parent)
        return;
    model->currentFolder = model->currentFolder->parent;
    showFolder(*this);
}

void Vorland::updatePathText()
{
    QString text;
    for (const ArchiveFolder *p = model->currentFolder; p->parent; p = p->parent)
        text.prepend(p->name + QLatin1Char('\\'));
    text.prepend(QStringLiteral(":\\"));
    pathEdit->setText(text);
}
