#include "vorland.h"

#include "bigarchive.h"
#include "bigarchivemodel.h"
#include "gfxcorecodec.h"
#include "styletweaks.h"

#include <QAction>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

const char tableStyleSheet[] = "QTableView::item:selected:active {"
                               "    background: #cce8ff;"
                               "    border-bottom: 1px solid #89caff;"
                               "    border-top: 1px solid #89caff;"
                               "    selection-color: black;"
                               "}"
                               "QTableView::item:selected:!active {"
                               "    background: #d9d9d9;"
                               "    selection-color: black;"
                               "}";

void doNothing()
{
}

} // namespace

Vorland::Vorland(QWidget *parent) : QMainWindow(parent)
{
    // Loaded first, so that a failure is told before the window exists; the
    // window is built either way.
    GfxCoreCodec::load();
    setWindowTitle(QStringLiteral("Vorland"));
    createMenus();

    auto *leftLayout = new QVBoxLayout;
    auto *rightLayout = new QVBoxLayout;
    auto *pathLayout = new QHBoxLayout;
    pathLayout->setAlignment(Qt::AlignLeft);

    upButton = new QPushButton;
    upButton->setIcon(QIcon(QStringLiteral(":/Vorland/arrow-up.png")));
    upButton->setFixedSize(22, 22);
    pathLayout->addWidget(upButton);
    connect(upButton, &QPushButton::clicked, this, &Vorland::goUp);

    pathEdit = new QLineEdit;
    pathLayout->addWidget(pathEdit);

    tableView = new QTableView;
    model = new BigArchiveModel;
    tableView->setModel(model);
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    styleTweaks = new Style_tweaks;
    tableView->setStyle(styleTweaks);
    tableView->setShowGrid(false);
    tableView->verticalHeader()->setDefaultSectionSize(22);
    tableView->horizontalHeader()->setHighlightSections(false);
    tableView->setStyleSheet(QString::fromLatin1(tableStyleSheet));
    connect(tableView, &QTableView::doubleClicked, this, &Vorland::enterFolder);
    // The view creates its selection model when it is given the model.
    connect(tableView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &Vorland::onCurrentRowChanged);

    previewArea = new QScrollArea;
    previewArea->setWidgetResizable(true);
    rightLayout->addWidget(previewArea);
    imageInfoLabel = new QLabel;
    rightLayout->addWidget(imageInfoLabel);

    fileCountLabel = new QLabel;
    leftLayout->addLayout(pathLayout);
    leftLayout->addWidget(tableView);
    leftLayout->addWidget(fileCountLabel);

    auto *leftPane = new QWidget;
    leftPane->setLayout(leftLayout);
    auto *rightPane = new QWidget;
    rightPane->setLayout(rightLayout);

    splitter = new QSplitter;
    splitter->addWidget(leftPane);
    splitter->addWidget(rightPane);
    splitter->setCollapsible(0, false);
    splitter->setCollapsible(1, false);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 3);

    setCentralWidget(splitter);
    setMinimumSize(400, 300);
    resize(600, 400);
    fontId = -1;
}

Vorland::~Vorland()
{
    if (fontId != -1)
        QFontDatabase::removeApplicationFont(fontId);
    GfxCoreCodec::unload();
    // The widgets go first: the table uses the model and the style below.
    delete takeCentralWidget();
    delete styleTweaks;
    delete model;
    delete newAction;
    delete openAction;
    delete saveAction;
    delete saveAsAction;
    delete exitAction;
}

void Vorland::createMenus()
{
    fileMenu = menuBar()->addMenu(tr("&File"));
    newAction = new QAction(tr("&New"));
    openAction = new QAction(tr("&Open"));
    saveAction = new QAction(tr("&Save"));
    saveAsAction = new QAction(tr("&Save As..."));
    exitAction = new QAction(tr("&Exit"));
    fileMenu->addAction(newAction);
    fileMenu->addAction(openAction);
    fileMenu->addAction(saveAction);
    fileMenu->addAction(saveAsAction);
    fileMenu->addAction(exitAction);
    connect(newAction, &QAction::triggered, this, &doNothing);
    connect(openAction, &QAction::triggered, this, &Vorland::openArchive);
    connect(saveAction, &QAction::triggered, this, &doNothing);
    connect(saveAsAction, &QAction::triggered, this, &doNothing);
    connect(exitAction, &QAction::triggered, this, &QWidget::close);
    searchMenu = menuBar()->addMenu(tr("&Search"));
    editMenu = menuBar()->addMenu(tr("&Edit"));
    helpMenu = menuBar()->addMenu(tr("&Help"));
}
