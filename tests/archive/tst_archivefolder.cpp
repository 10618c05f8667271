// The folder tree of an archive and the types of its files.

#include "archivefolder.h"
#include "treebuilder.h"

#include <QtTest>

class TestArchiveFolder : public QObject
{
    Q_OBJECT

private slots:
    void pathsMakeFolders();
    void namesAreExactAndEmptyNamesCount();
    void manySubfoldersKeepTheirOrder();
    void sameNamesStaySeparate();
    void clearKeepsTheRoot();
    void deepPathsNeitherRecurseNorCrash();
    void fileTypes_data();
    void fileTypes();
    void typeNames_data();
    void typeNames();
};

void TestArchiveFolder::pathsMakeFolders()
{
    ArchiveFolder root(true, nullptr, "$root$");
    ArchiveFile *top = addPath(root, "readme.txt", 10, 20);
    ArchiveFile *deep = addPath(root, "a\\b\\c.txt", 30, 40);
    addPath(root, "a\\d.ini");

    QCOMPARE(top->folder, &root);
    QCOMPARE(root.files, QVector<ArchiveFile *>{top});
    QCOMPARE(root.folders.size(), 1);
    ArchiveFolder *a = root.folders.first();
    QCOMPARE(a->name, QString("a"));
    QCOMPARE(a->parent, &root);
    QVERIFY(!a->isRoot);
    // The later entry reuses folder a.
    QCOMPARE(a->files.size(), 1);
    QCOMPARE(a->files.first()->name, QString("d.ini"));
    ArchiveFolder *b = a->findFolder("b");
    QVERIFY(b);
    QCOMPARE(deep->folder, b);
    QCOMPARE(deep->name, QString("c.txt"));
    QCOMPARE(deep->size, 30);
    QCOMPARE(deep->offset, 40);
    QCOMPARE(root.findFolder("b"), nullptr);
}

void TestArchiveFolder::namesAreExactAndEmptyNamesCount()
{
    ArchiveFolder root(true, nullptr, "$root$");
    ArchiveFolder *upper = root.obtainFolder("A");
    ArchiveFolder *lower = root.obtainFolder("a");
    QVERIFY(upper != lower);
    QCOMPARE(root.findFolder("a"), lower);

    ArchiveFolder *empty = root.obtainFolder(QString());
    QCOMPARE(root.obtainFolder(""), empty);
    QCOMPARE(root.folders.size(), 3);

    // "x\\\\y" has an empty folder between x and y; a leading backslash makes
    // an empty folder in the root; a trailing one a file with an empty name.
    ArchiveFile *between = addPath(root, "x\\\\y");
    QCOMPARE(between->folder->name, QString());
    QCOMPARE(between->folder->parent->name, QString("x"));
    ArchiveFile *leading = addPath(root, "\\z");
    QCOMPARE(leading->folder, empty);
    ArchiveFile *trailing = addPath(root, "x\\");
    QCOMPARE(trailing->name, QString());
    QCOMPARE(trailing->folder, root.findFolder("x"));
}

void TestArchiveFolder::manySubfoldersKeepTheirOrder()
{
    // Past a few subfolders names are found through an index, which grows:
    // every name is found again, once, and the list keeps the order met.
    ArchiveFolder root(true, nullptr, "$root$");
    QStringList names;
    for (int i = 0; i < 3000; ++i)
        names << QString::number(i * 7919 % 3001) << QString::number(i * 7919 % 3001).toUpper();
    names << ""
          << "a"
          << "A";
    QVector<ArchiveFolder *> made;
    for (const QString &name : names) {
        ArchiveFolder *folder = root.obtainFolder(name);
        if (!made.contains(folder))
            made << folder;
        QCOMPARE(folder->name, name);
        QCOMPARE(root.findFolder(name), folder);
    }
    QCOMPARE(root.folders, made);
    QCOMPARE(root.folders.size(), 3003);
    for (ArchiveFolder *folder : made)
        QCOMPARE(root.findFolder(folder->name), folder);
    QCOMPARE(root.findFolder("3001"), nullptr);
    root.clear();
    QCOMPARE(root.findFolder("1"), nullptr);
    QCOMPARE(root.obtainFolder("1")->name, QString("1"));
}

void TestArchiveFolder::sameNamesStaySeparate()
{
    ArchiveFolder root(true, nullptr, "$root$");
    ArchiveFile *first = addPath(root, "data\\same.bin");
    ArchiveFile *second = addPath(root, "data\\same.bin");
    addPath(root, "data");
    ArchiveFolder *data = root.findFolder("data");
    QCOMPARE(data->files, (QVector<ArchiveFile *>{first, second}));
    // A file and a folder of the same name stand side by side.
    QCOMPARE(root.files.size(), 1);
    QCOMPARE(root.files.first()->name, QString("data"));
}

void TestArchiveFolder::clearKeepsTheRoot()
{
    ArchiveFolder root(true, nullptr, "$root$");
    addPaths(root, {"a\\b\\c", "a\\d", "e", "f\\g\\h\\i"});
    root.clear();
    QVERIFY(root.folders.isEmpty());
    QVERIFY(root.files.isEmpty());
    QCOMPARE(root.name, QString("$root$"));
    QVERIFY(root.isRoot);
    QCOMPARE(root.parent, nullptr);
    // The tree can be built again.
    addPath(root, "a\\b");
    QCOMPARE(root.folders.size(), 1);
}

void TestArchiveFolder::deepPathsNeitherRecurseNorCrash()
{
    // One path of a million backslashes nests a million folders; clearing and
    // destroying must not take a call per level.
    const int depth = 1000000;
    ArchiveFolder root(true, nullptr, "$root$");
    ArchiveFile *file = addPath(root, QString(depth, QLatin1Char('\\')) + "end.txt");
    int levels = 0;
    for (ArchiveFolder *f = file->folder; f->parent; f = f->parent)
        ++levels;
    QCOMPARE(levels, depth);
    root.clear();
    QVERIFY(root.folders.isEmpty());

    // And a deep tree destroyed with its root.
    auto *other = new ArchiveFolder(true, nullptr, "$root$");
    addPath(*other, QString(depth, QLatin1Char('\\')));
    delete other;
}

void TestArchiveFolder::fileTypes_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("extension");
    QTest::newRow("no dot") << "readme" << int(FileType::Other) << "";
    QTest::newRow("ends with a dot") << "name." << int(FileType::Other) << "";
    QTest::newRow("object file") << "model.o" << int(FileType::O) << "O";
    QTest::newRow("last extension wins") << "data.ini.xml" << int(FileType::Xml) << "XML";
    QTest::newRow("only a dot and ini") << ".ini" << int(FileType::Ini) << "INI";
    QTest::newRow("mixed case") << "LOGO.Tga" << int(FileType::Tga) << "TGA";
    QTest::newRow("unknown") << "music.mp3" << int(FileType::Other) << "MP3";
    QTest::newRow("bmp") << "x.bmp" << int(FileType::Bmp) << "BMP";
    QTest::newRow("csv") << "x.csv" << int(FileType::Csv) << "CSV";
    QTest::newRow("fsh") << "x.fsh" << int(FileType::Fsh) << "FSH";
    QTest::newRow("tpi") << "x.tpi" << int(FileType::Tpi) << "TPI";
    QTest::newRow("png") << "x.PNG" << int(FileType::Png) << "PNG";
    QTest::newRow("ttf") << "x.ttf" << int(FileType::Ttf) << "TTF";
}

void TestArchiveFolder::fileTypes()
{
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QString, extension);
    const ArchiveFile file(nullptr, name, 0, 0);
    QCOMPARE(file.extension(), extension);
    QCOMPARE(int(file.type), type);
}

void TestArchiveFolder::typeNames_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("text");
    const QStringList texts = {"File",      "INI Settings", "CSV File",     "Bitmap Image",
                               "FSH Image", "TPI Image",    "TGA Image",    "PNG Image",
                               "O File",    "XML File",     "TrueType Font"};
    for (int i = 0; i < texts.size(); ++i)
        QTest::addRow("%d", i) << i << texts.at(i);
    QTest::newRow("outside the enumeration") << 11 << "File";
    QTest::newRow("negative") << -1 << "File";
}

void TestArchiveFolder::typeNames()
{
    QFETCH(int, type);
    QFETCH(QString, text);
    ArchiveFile file(nullptr, "x", 0, 0);
    file.type = FileType(type);
    QCOMPARE(file.typeName(), text);
}

QTEST_GUILESS_MAIN(TestArchiveFolder)
#include "tst_archivefolder.moc"
