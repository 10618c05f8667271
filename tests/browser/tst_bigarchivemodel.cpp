// The table model of the current folder: rows, cells, roles and refresh.

#include "bigarchivemodel.h"
#include "treebuilder.h"

#include <QAbstractItemModelTester>
#include <QtTest>

class TestBigArchiveModel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void emptyModel();
    void foldersBeforeFiles();
    void cellsAndRoles();
    void typeTexts_data();
    void typeTexts();
    void sizeTexts_data();
    void sizeTexts();
    void refreshSignals();
    void testerAcrossFolderChanges();
};

void TestBigArchiveModel::initTestCase()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
}

void TestBigArchiveModel::emptyModel()
{
    BigArchiveModel model;
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 3);
    addPath(model.rootFolder, "a\\b");
    // Cells of a table have no children.
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
    QCOMPARE(model.columnCount(model.index(0, 0)), 0);
    model.rootFolder.clear();
    QCOMPARE(model.currentFolder, &model.rootFolder);
    QVERIFY(model.rootFolder.isRoot);
    QCOMPARE(model.rootFolder.name, QString("$root$"));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QString("Name"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QString("Type"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QString("Size"));
    QVERIFY(!model.headerData(3, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Vertical).isValid());
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::DecorationRole).isValid());
    QVERIFY(!model.data(model.index(0, 0)).isValid());
}

void TestBigArchiveModel::foldersBeforeFiles()
{
    BigArchiveModel model;
    addPaths(model.rootFolder, {"one.ini", "zeta\\x", "two.png", "alpha\\y", "three"});
    model.refresh();
    QCOMPARE(model.rowCount(), 5);
    QStringList names, types;
    for (int row = 0; row < 5; ++row) {
        names << model.data(model.index(row, 0)).toString();
        types << model.data(model.index(row, 1)).toString();
    }
    // Folders in the order first met, then files in directory order: no sorting.
    QCOMPARE(names, (QStringList{"zeta", "alpha", "one.ini", "two.png", "three"}));
    QCOMPARE(types, (QStringList{"Folder", "Folder", "INI Settings", "PNG Image", "File"}));
}

void TestBigArchiveModel::cellsAndRoles()
{
    BigArchiveModel model;
    addPath(model.rootFolder, "art\\a.tga");
    addPath(model.rootFolder, "b.xml", 2048);
    model.refresh();
    const QModelIndex folderName = model.index(0, 0);
    const QModelIndex fileName = model.index(1, 0);

    // Icons on the Name column only, folder and file apart.
    const QIcon folderIcon = qvariant_cast<QIcon>(model.data(folderName, Qt::DecorationRole));
    const QIcon fileIcon = qvariant_cast<QIcon>(model.data(fileName, Qt::DecorationRole));
    QVERIFY(!folderIcon.isNull());
    QVERIFY(!fileIcon.isNull());
    QCOMPARE(folderIcon.cacheKey(), model.folderIcon->cacheKey());
    QCOMPARE(fileIcon.cacheKey(), model.fileIcon->cacheKey());
    for (int column : {1, 2})
        QVERIFY(!model.data(model.index(1, column), Qt::DecorationRole).isValid());

    // The folder's Size is an empty string, not an invalid value.
    const QVariant folderSize = model.data(model.index(0, 2));
    QVERIFY(folderSize.isValid());
    QCOMPARE(folderSize.userType(), int(QMetaType::QString));
    QVERIFY(folderSize.toString().isEmpty());
    QCOMPARE(model.data(model.index(1, 2)).toString(), QString("2 KB"));

    // Right alignment on Size alone, with no vertical flag.
    QCOMPARE(model.data(model.index(1, 2), Qt::TextAlignmentRole), QVariant(int(Qt::AlignRight)));
    QVERIFY(!model.data(model.index(1, 0), Qt::TextAlignmentRole).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::ToolTipRole).isValid());
    QVERIFY(!model.data(model.index(1, 0), Qt::EditRole).isValid());

    const Qt::ItemFlags flags = model.flags(fileName);
    QVERIFY(flags & Qt::ItemIsSelectable);
    QVERIFY(flags & Qt::ItemIsEnabled);
    QVERIFY(!(flags & Qt::ItemIsEditable));
}

void TestBigArchiveModel::typeTexts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::newRow("no extension") << "readme"
                                  << "File";
    QTest::newRow("ends with a dot") << "name."
                                     << "File";
    QTest::newRow("unknown extension") << "data.bin"
                                       << "BIN File";
    QTest::newRow("last extension") << "a.tar.gz"
                                    << "GZ File";
    QTest::newRow("upper case known") << "LOGO.Tga"
                                      << "TGA Image";
    QTest::newRow("lower case known") << "logo.tga"
                                      << "TGA Image";
    QTest::newRow("font") << "sans.ttf"
                          << "TrueType Font";
    QTest::newRow("audio") << "music.mp3"
                           << "MP3 File";
}

void TestBigArchiveModel::typeTexts()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    BigArchiveModel model;
    addPath(model.rootFolder, name);
    QCOMPARE(model.data(model.index(0, 1)).toString(), text);
}

void TestBigArchiveModel::sizeTexts_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0u << "0 KB";
    QTest::newRow("1") << 1u << "1 KB";
    QTest::newRow("1023") << 1023u << "1 KB";
    QTest::newRow("1024") << 1024u << "1 KB";
    QTest::newRow("2047") << 2047u << "1 KB";
    QTest::newRow("2048") << 2048u << "2 KB";
    QTest::newRow("12,345,678") << 12345678u << "12056 KB";
    QTest::newRow("16,777,217 rounds in single precision") << 16777217u << "16384 KB";
    QTest::newRow("33,554,431 rounds up") << 33554431u << "32768 KB";
    QTest::newRow("4,294,967,295") << 4294967295u << "4194304 KB";
}

void TestBigArchiveModel::sizeTexts()
{
    QFETCH(quint32, size);
    QFETCH(QString, text);
    QCOMPARE(formatSize(size), text);
    // A stored size is signed; the table reads it as unsigned.
    BigArchiveModel model;
    addPath(model.rootFolder, "f", qint32(size));
    QCOMPARE(model.data(model.index(0, 2)).toString(), text);
}

void TestBigArchiveModel::refreshSignals()
{
    BigArchiveModel model;
    QSignalSpy data(&model, &QAbstractItemModel::dataChanged);
    QSignalSpy layout(&model, &QAbstractItemModel::layoutChanged);
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy aboutLayout(&model, &QAbstractItemModel::layoutAboutToBeChanged);

    model.refresh(); // empty: both corners invalid
    QCOMPARE(data.count(), 1);
    QVERIFY(!data.at(0).at(0).value<QModelIndex>().isValid());
    QVERIFY(!data.at(0).at(1).value<QModelIndex>().isValid());
    QVERIFY(data.at(0).at(2).value<QVector<int>>().isEmpty());
    QCOMPARE(layout.count(), 1);
    QVERIFY(layout.at(0).at(0).value<QList<QPersistentModelIndex>>().isEmpty());
    QCOMPARE(layout.at(0).at(1).value<QAbstractItemModel::LayoutChangeHint>(),
             QAbstractItemModel::NoLayoutChangeHint);

    addPaths(model.rootFolder, {"a\\x", "b", "c"});
    model.refresh();
    QCOMPARE(data.count(), 2);
    const QModelIndex topLeft = data.at(1).at(0).value<QModelIndex>();
    const QModelIndex bottomRight = data.at(1).at(1).value<QModelIndex>();
    QCOMPARE(topLeft, model.index(0, 0));
    QCOMPARE(bottomRight, model.index(2, 2));
    QCOMPARE(reset.count(), 0);
    QCOMPARE(aboutLayout.count(), 0);
}

void TestBigArchiveModel::testerAcrossFolderChanges()
{
    BigArchiveModel model;
    addPaths(model.rootFolder, {"a\\b\\c.png", "a\\d.ini", "a\\e\\", "f.xml", "g\\h.ttf"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.currentFolder = model.rootFolder.findFolder("a");
    model.refresh();
    QCOMPARE(model.rowCount(), 3);
    model.currentFolder = model.currentFolder->findFolder("b");
    model.refresh();
    QCOMPARE(model.rowCount(), 1);
    model.currentFolder = &model.rootFolder;
    model.refresh();
    QCOMPARE(model.rowCount(), 3);
}

QTEST_MAIN(TestBigArchiveModel)
#include "tst_bigarchivemodel.moc"
