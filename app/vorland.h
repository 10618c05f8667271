#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class ArchiveFile;
class BigArchive;
class BigArchiveModel;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTableView;
class Style_tweaks;

// The main window: the browser pane (up button, path field, table of the
// current folder, file count) beside the preview pane. Its members are the
// state that opening, browsing and previewing share.
//
// The window owns its widgets through Qt's parent-child tree and, in its
// destructor, the parentless model, actions and style.
class Vorland : public QMainWindow
{
public:
    explicit Vorland(QWidget *parent = nullptr);
    ~Vorland() override;

    void createMenus();

    // Opening an archive: openArchive() asks for a file and hands it to
    // openArchiveFile(), which does the work (and is what tests call).
    void openArchive();
    void openArchiveFile(const QString &fileName);
    void resetArchive();

    // Previewing: making a file row current shows that file.
    void onCurrentRowChanged(const QModelIndex &current, const QModelIndex &previous);
    void previewFile(ArchiveFile *file);

    // Browsing (double-click enters a folder, the up button leaves it).
    void enterFolder(const QModelIndex &index);
    void goUp();
    void updatePathText();

    QString archivePath;
    QSplitter *splitter = nullptr;
    QTableView *tableView = nullptr;
    BigArchiveModel *model = nullptr;
    QMenu *fileMenu = nullptr;
    QMenu *searchMenu = nullptr;
    QMenu *editMenu = nullptr;
    QMenu *helpMenu = nullptr;
    QAction *newAction = nullptr;
    QAction *openAction = nullptr;
    QAction *saveAction = nullptr;
    QAction *saveAsAction = nullptr;
    QAction *exitAction = nullptr;
    QLabel *fileCountLabel = nullptr;
    QLabel *imageInfoLabel = nullptr;
    QPushButton *upButton = nullptr;
    QLineEdit *pathEdit = nullptr;
    QScrollArea *previewArea = nullptr;
    int fontId = -1;

    // The open archive's reader. It keeps the unpacked image of a whole-file
    // compressed archive, whose entries can only be read from it.
    std::unique_ptr<BigArchive> archive;

private:
    void showPreview(ArchiveFile *file);
    // Reads the directory of the file now at archivePath again (another
    // program replaced the archive), stays in the folder shown where it still
    // exists and previews the file `fileName` in it. False, changing nothing,
    // when the file cannot be opened as an archive.
    bool reloadChangedArchive(const QString &fileName);
    void openArchiveOrThrow(const QString &fileName);

    Style_tweaks *styleTweaks = nullptr;
};
