// The main window as the user meets it: layout, menus, style, and moving
// between folders.

#include "bigarchivemodel.h"
#include "reportrecorder.h"
#include "styletweaks.h"
#include "treebuilder.h"
#include "vorland.h"

#include <QAction>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QTableView>
#include <QtTest>

class TestVorland : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsEmpty();
    void menus();
    void placeholderActionsDoNothing();
    void exitClosesTheWindow();
    void layoutAndSizes();
    void tableSettings();
    void noFocusRectangle();
    void navigation();
    void navigationWithoutArchive();
    void enterOnlyByDoubleClick();

private:
    // Fills the window's tree with a small archive and shows its root.
    void fill();
    std::unique_ptr<ReportRecorder> recorder;
    std::unique_ptr<Vorland> window;
};

void TestVorland::init()
{
    recorder = std::make_unique<ReportRecorder>();
    window = std::make_unique<Vorland>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
}

void TestVorland::cleanup()
{
    window.reset();
    QVERIFY(recorder->messages.isEmpty());
    recorder.reset();
}

void TestVorland::fill()
{
    addPaths(window->model->rootFolder,
             {"data\\art\\logo.tga", "data\\readme", "data\\empty\\", "top.ini"});
    // "data\\empty\\" leaves a file with an empty name; take it out so the
    // folder is empty.
    ArchiveFolder *empty = window->model->rootFolder.findFolder("data")->findFolder("empty");
    qDeleteAll(empty->files);
    empty->files.clear();
    window->model->refresh();
}

void TestVorland::startsEmpty()
{
    QCOMPARE(window->windowTitle(), QString("Vorland"));
    QCOMPARE(window->model->rowCount(), 0);
    QVERIFY(window->pathEdit->text().isEmpty());
    QVERIFY(window->fileCountLabel->text().isEmpty());
    QVERIFY(window->imageInfoLabel->text().isEmpty());
    QCOMPARE(window->previewArea->widget(), nullptr);
    QVERIFY(window->archivePath.isEmpty());
    QCOMPARE(window->fontId, -1);
    QHeaderView *header = window->tableView->horizontalHeader();
    QCOMPARE(header->count(), 3);
    QStringList titles;
    for (int i = 0; i < 3; ++i)
        titles << header->model()->headerData(i, Qt::Horizontal).toString();
    QCOMPARE(titles, (QStringList{"Name", "Type", "Size"}));
}

void TestVorland::menus()
{
    QStringList titles;
    for (QAction *action : window->menuBar()->actions())
        titles << action->text();
    QCOMPARE(titles, (QStringList{"&File", "&Search", "&Edit", "&Help"}));

    QStringList entries;
    for (QAction *action : window->fileMenu->actions()) {
        QVERIFY(!action->isSeparator());
        QVERIFY(action->shortcut().isEmpty());
        QVERIFY(action->icon().isNull());
        QVERIFY(!action->isCheckable());
        entries << action->text();
    }
    QCOMPARE(entries, (QStringList{"&New", "&Open", "&Save", "&Save As...", "&Exit"}));
    QCOMPARE(window->fileMenu->actions().at(1), window->openAction);
    QCOMPARE(window->fileMenu->actions().at(4), window->exitAction);
    QVERIFY(window->searchMenu->actions().isEmpty());
    QVERIFY(window->editMenu->actions().isEmpty());
    QVERIFY(window->helpMenu->actions().isEmpty());
}

void TestVorland::placeholderActionsDoNothing()
{
    fill();
    for (QAction *action : {window->newAction, window->saveAction, window->saveAsAction})
        action->trigger();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QString("Vorland"));
    QCOMPARE(window->model->rowCount(), 2);
    QCOMPARE(QApplication::topLevelWidgets().count(QApplication::activeModalWidget()), 0);
}

void TestVorland::exitClosesTheWindow()
{
    window->exitAction->trigger();
    QVERIFY(!window->isVisible());
}

void TestVorland::layoutAndSizes()
{
    QCOMPARE(window->minimumSize(), QSize(400, 300));
    QCOMPARE(window->size(), QSize(600, 400));
    QCOMPARE(window->centralWidget(), window->splitter);
    QSplitter *splitter = window->splitter;
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    QCOMPARE(splitter->count(), 2);
    QVERIFY(!splitter->isCollapsible(0));
    QVERIFY(!splitter->isCollapsible(1));
    QCOMPARE(splitter->widget(0)->sizePolicy().horizontalStretch(), 1);
    QCOMPARE(splitter->widget(1)->sizePolicy().horizontalStretch(), 3);
    // Left pane: path row, table, file count; right pane: preview, info.
    QVERIFY(splitter->widget(0)->isAncestorOf(window->tableView));
    QVERIFY(splitter->widget(0)->isAncestorOf(window->pathEdit));
    QVERIFY(splitter->widget(0)->isAncestorOf(window->fileCountLabel));
    QVERIFY(splitter->widget(1)->isAncestorOf(window->previewArea));
    QVERIFY(splitter->widget(1)->isAncestorOf(window->imageInfoLabel));
    QVERIFY(window->previewArea->widgetResizable());

    // Widening the window gives the right pane three times the left's share
    // of the extra width, or more: QSplitter weighs the stretch factors by
    // the panes' present widths, which the style decides (equal on Linux).
    // The splitter itself, so that no window manager has a say.
    splitter->resize(900, 300);
    const QList<int> before = splitter->sizes();
    splitter->resize(1200, 300);
    const QList<int> after = splitter->sizes();
    const double left = after.at(0) - before.at(0), right = after.at(1) - before.at(1);
    QVERIFY2(left > 0 && right / left > 2.9 && (before.at(0) != before.at(1) || right / left < 3.1),
             qPrintable(QString("%1 : %2").arg(left).arg(right)));

    QCOMPARE(window->upButton->minimumSize(), QSize(22, 22));
    QCOMPARE(window->upButton->maximumSize(), QSize(22, 22));
    QVERIFY(window->upButton->text().isEmpty());
    QVERIFY(!window->upButton->icon().isNull());
    QVERIFY(window->upButton->icon().availableSizes().contains(QSize(32, 32)));
    QVERIFY(!window->pathEdit->isReadOnly());
}

void TestVorland::tableSettings()
{
    QTableView *view = window->tableView;
    QCOMPARE(view->model(), window->model);
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QVERIFY(!view->showGrid());
    // Rows start 22 pixels high, or as low as the font lets a header section go.
    QCOMPARE(view->verticalHeader()->defaultSectionSize(),
             qMax(22, view->verticalHeader()->minimumSectionSize()));
    QVERIFY(!view->horizontalHeader()->highlightSections());
    const QString sheet = view->styleSheet();
    QCOMPARE(sheet.size(), 244);
    QCOMPARE(sheet,
             QString("QTableView::item:selected:active {    background: #cce8ff;    "
                     "border-bottom: 1px solid #89caff;    border-top: 1px solid #89caff;    "
                     "selection-color: black;}QTableView::item:selected:!active {    "
                     "background: #d9d9d9;    selection-color: black;}"));
    // The table draws through the focus-free style: a focus rectangle drawn
    // for it leaves the picture blank, where the application style draws one.
    QStyleOptionFocusRect focus;
    focus.initFrom(view);
    focus.rect = QRect(2, 2, 28, 12);
    focus.state |= QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    auto drawn = [&](const QStyle *style) {
        QImage image(32, 16, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, view);
        return image;
    };
    QImage blank(32, 16, QImage::Format_ARGB32);
    blank.fill(Qt::white);
    QVERIFY(drawn(QApplication::style()) != blank);
    QCOMPARE(drawn(view->style()), blank);

    // Clicking a cell selects its whole row.
    fill();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(window->model->index(1, 2)).center());
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    QCOMPARE(selected.size(), 3);
    for (const QModelIndex &index : selected)
        QCOMPARE(index.row(), 1);
}

void TestVorland::noFocusRectangle()
{
    // The base style draws a focus rectangle; the tweak draws nothing for it
    // and leaves every other element alone.
    Style_tweaks tweaks;
    QStyleOptionFocusRect focus;
    focus.rect = QRect(2, 2, 28, 12);
    focus.palette = QApplication::palette();
    focus.state = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    QStyleOptionButton check;
    check.rect = QRect(2, 2, 13, 13);
    check.palette = QApplication::palette();
    check.state = QStyle::State_On | QStyle::State_Enabled;
    auto render = [](const QStyle *style, QStyle::PrimitiveElement element,
                     const QStyleOption &option) {
        QImage image(32, 16, QImage::Format_ARGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        style->drawPrimitive(element, &option, &painter);
        return image;
    };
    QImage blank(32, 16, QImage::Format_ARGB32);
    blank.fill(Qt::white);
    QVERIFY(render(tweaks.baseStyle(), QStyle::PE_FrameFocusRect, focus) != blank);
    QCOMPARE(render(&tweaks, QStyle::PE_FrameFocusRect, focus), blank);
    const QImage box = render(&tweaks, QStyle::PE_IndicatorCheckBox, check);
    QVERIFY(box != blank);
    QCOMPARE(box, render(tweaks.baseStyle(), QStyle::PE_IndicatorCheckBox, check));
}

void TestVorland::navigation()
{
    fill();
    window->pathEdit->setText(":\\");
    QTableView *view = window->tableView;
    QSignalSpy current(view->selectionModel(), &QItemSelectionModel::currentRowChanged);

    view->setCurrentIndex(window->model->index(1, 0));
    QCOMPARE(current.count(), 1);
    window->enterFolder(window->model->index(0, 2)); // any column of a folder row
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\"));
    QCOMPARE(window->model->rowCount(), 3);
    // Selection and current index gone, without a signal.
    QVERIFY(!view->selectionModel()->currentIndex().isValid());
    QVERIFY(view->selectionModel()->selectedIndexes().isEmpty());
    QCOMPARE(current.count(), 1);

    window->enterFolder(window->model->index(0, 0));
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\art\\"));
    QCOMPARE(window->model->data(window->model->index(0, 0)).toString(), QString("logo.tga"));
    // A file row is not entered.
    window->enterFolder(window->model->index(0, 0));
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\art\\"));

    window->goUp();
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\"));
    window->enterFolder(window->model->index(1, 0));
    QCOMPARE(window->pathEdit->text(), QString(":\\data\\empty\\"));
    QCOMPARE(window->model->rowCount(), 0);

    // Typed text is only overwritten by the next move.
    window->pathEdit->setText("somewhere");
    QCOMPARE(window->model->rowCount(), 0);
    window->upButton->click();
    window->upButton->click();
    QCOMPARE(window->pathEdit->text(), QString(":\\"));
    QCOMPARE(window->model->currentFolder, &window->model->rootFolder);
    // At the root the up button does nothing, not even rewrite the path.
    window->pathEdit->setText("typed");
    window->upButton->click();
    QCOMPARE(window->pathEdit->text(), QString("typed"));
}

void TestVorland::navigationWithoutArchive()
{
    window->upButton->click();
    window->enterFolder(window->model->index(0, 0));
    window->enterFolder(QModelIndex());
    QVERIFY(window->pathEdit->text().isEmpty());
    QCOMPARE(window->model->currentFolder, &window->model->rootFolder);
}

void TestVorland::enterOnlyByDoubleClick()
{
    fill();
    QTableView *view = window->tableView;
    const QPoint folderRow = view->visualRect(window->model->index(0, 1)).center();
    view->setFocus();
    view->setCurrentIndex(window->model->index(0, 0));
    QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(window->model->currentFolder, &window->model->rootFolder);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, folderRow);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, folderRow);
    QCOMPARE(window->model->currentFolder->name, QString("data"));
}

QTEST_MAIN(TestVorland)
#include "tst_vorland.moc"
