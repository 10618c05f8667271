// The text and XML viewers: decoding, fonts, tabs, and the colours the XML
// highlighter gives each character.

#include "basicxmlsyntaxhighlighter.h"
#include "textviewers.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QtTest>

namespace {

// One letter per character of the first line of `editor`: B blue bold
// (delimiter), M dark magenta bold (tag name), G dark green bold italic
// (attribute name), R dark red (attribute value), Y gray (comment), . plain.
QString colours(const QTextBlock &block)
{
    QString out(block.length() - 1, QLatin1Char('.'));
    for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
        const QTextCharFormat &f = range.format;
        const QColor c = f.foreground().color();
        QChar letter = QLatin1Char('?');
        if (c == QColor(Qt::blue) && f.fontWeight() == QFont::Bold && !f.fontItalic())
            letter = QLatin1Char('B');
        else if (c == QColor(Qt::darkMagenta) && f.fontWeight() == QFont::Bold && !f.fontItalic())
            letter = QLatin1Char('M');
        else if (c == QColor(Qt::darkGreen) && f.fontWeight() == QFont::Bold && f.fontItalic())
            letter = QLatin1Char('G');
        else if (c == QColor(Qt::darkRed) && !f.hasProperty(QTextFormat::FontWeight) &&
                 !f.fontItalic())
            letter = QLatin1Char('R');
        else if (c == QColor(Qt::gray) && !f.hasProperty(QTextFormat::FontWeight) &&
                 !f.fontItalic())
            letter = QLatin1Char('Y');
        for (int i = range.start; i < range.start + range.length; ++i)
            out[i] = letter;
    }
    return out;
}

} // namespace

class TestTextViewers : public QObject
{
    Q_OBJECT

private slots:
    void patternsAndFormats();
    void highlighting_data();
    void highlighting();
    void linesAreColouredAlone();
    void decoding_data();
    void decoding();
    void viewers();
};

void TestTextViewers::patternsAndFormats()
{
    QTextEdit editor;
    BasicXMLSyntaxHighlighter h(&editor);
    QStringList delimiters;
    for (const QRegExp &r : h.delimiterPatterns)
        delimiters << r.pattern();
    QCOMPARE(delimiters, (QStringList{"<\\?", "/>", ">", "<", "</", "\\?>"}));
    QCOMPARE(h.tagNamePattern.pattern(), QString("<[\\s]*[/]?[\\s]*([^\\n]\\w*)(?=[\\s/>])"));
    QCOMPARE(h.attributeNamePattern.pattern(), QString("\\w+(?=\\=)"));
    QCOMPARE(h.attributeValuePattern.pattern(), QString("\"[^\\n\"]+\"(?=[\\s/>])"));
    QCOMPARE(h.attributeValuePattern.pattern().size(), 19);
    QCOMPARE(h.commentPattern.pattern(), QString("<!--[^\\n]*-->"));
    for (const QRegExp &r :
         h.delimiterPatterns + QList<QRegExp>{h.tagNamePattern, h.attributeNamePattern,
                                              h.attributeValuePattern, h.commentPattern}) {
        QCOMPARE(r.patternSyntax(), QRegExp::RegExp);
        QCOMPARE(r.caseSensitivity(), Qt::CaseSensitive);
    }
    QCOMPARE(h.document(), editor.document());
}

void TestTextViewers::highlighting_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("declaration") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                                 << "BBMMM.GGGGGGG.RRRRR.GGGGGGGG........BB";
    QTest::newRow("closing tag") << "</item>"
                                 << "BBMMMMB";
    QTest::newRow("empty element") << "<item id=\"7\"/>"
                                   << "BMMMM.GG.RRRBB";
    QTest::newRow("comment with a quoted word") << "<!-- a \"quoted\" word -->"
                                                << "YYYYYYYRRRRRRRRYYYYYYYYY";
    QTest::newRow("spaces around the equals sign") << "<note lang = \"en\" >"
                                                   << "BMMMM........RRRR.B";
    QTest::newRow("single quotes") << "<file name='x.png' />"
                                   << "BMMMM.GGGG.........BB";
    QTest::newRow("word and equals sign in content") << "key=value"
                                                     << "GGG......";
    QTest::newRow("name at the end of the line") << "<element"
                                                 << "B.......";
    QTest::newRow("tabs before an element") << "\t\t<a b=\"c\">"
                                            << "..BM.G.RRRB";
}

void TestTextViewers::highlighting()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QTextEdit *editor = createXmlViewer(line.toUtf8().constData(), line.toUtf8().size());
    QCOMPARE(colours(editor->document()->firstBlock()), expected);
    delete editor;
}

void TestTextViewers::linesAreColouredAlone()
{
    // A comment over three lines is not gray on any of them.
    const QByteArray text = "<!-- start\nmiddle \"x\" text\nend -->";
    std::unique_ptr<QTextEdit> editor(createXmlViewer(text.constData(), text.size()));
    QTextBlock block = editor->document()->firstBlock();
    QCOMPARE(colours(block), QString("B........."));
    block = block.next();
    QCOMPARE(colours(block), QString(".......RRR....."));
    block = block.next();
    QCOMPARE(colours(block), QString("......B"));
}

void TestTextViewers::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QByteArray("a=1\nb=2") << "a=1\nb=2";
    QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBFh\xC3\xA9") << QString::fromUtf8("hé");
    QTest::newRow("UTF-16 LE mark") << QByteArray("\xFF\xFEh\0i\0", 6) << "hi";
    QTest::newRow("UTF-16 BE mark") << QByteArray("\xFE\xFF\0h\0i", 6) << "hi";
}

void TestTextViewers::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeText(bytes.constData(), bytes.size()), text);
}

void TestTextViewers::viewers()
{
    const QByteArray csv = "a\tb\tc\n1\t2\t3\n";
    std::unique_ptr<QPlainTextEdit> plain(createTextViewer(csv.constData(), csv.size()));
    QCOMPARE(plain->toPlainText(), QString::fromLatin1(csv));
    QCOMPARE(plain->lineWrapMode(), QPlainTextEdit::NoWrap);
    QVERIFY(!plain->isReadOnly());
    QCOMPARE(plain->tabStopDistance(), QPlainTextEdit().tabStopDistance());

    std::unique_ptr<QTextEdit> xml(createXmlViewer(csv.constData(), csv.size()));
    const QFont font = viewerFont();
    QCOMPARE(font.family(), QString("Courier"));
    QCOMPARE(font.pointSize(), 10);
    QVERIFY(font.fixedPitch());
    QCOMPARE(font.styleHint(), QFont::Monospace);
    QCOMPARE(xml->font().family(), font.family());
    QCOMPARE(xml->font().pointSize(), 10);
    QVERIFY(xml->font().fixedPitch());
    QCOMPARE(xml->lineWrapMode(), QTextEdit::NoWrap);
    QCOMPARE(xml->tabStopDistance(), 4.0 * QFontMetrics(font).horizontalAdvance(QLatin1Char(' ')));
    QVERIFY(!xml->isReadOnly());
}

QTEST_MAIN(TestTextViewers)
#include "tst_textviewers.moc"
