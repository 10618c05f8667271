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
    void highlightingFollowsThePatterns();
    void linesAreColouredAlone();
    void decoding_data();
    void decoding();
    void longTextsAreCut_data();
    void longTextsAreCut();
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
    // Colouring stops after the first 20000 characters of a line.
    QTest::newRow("a line of 21000 characters")
        << QString("<a>").repeated(7000)
        << QString("BMB").repeated(6666) + "B." + QString(1000, QLatin1Char('.'));
}

void TestTextViewers::highlighting()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QTextEdit *editor = createXmlViewer(line.toUtf8().constData(), line.toUtf8().size());
    QCOMPARE(colours(editor->document()->firstBlock()), expected);
    delete editor;
}

void TestTextViewers::highlightingFollowsThePatterns()
{
    // The highlighter finds some matches without QRegExp, for speed: on
    // random lines of markup characters, every letter's colour is still what
    // the five passes of the patterns give.
    QTextEdit reference;
    const BasicXMLSyntaxHighlighter h(&reference);
    auto expected = [&](const QString &line) {
        QString out(line.size(), QLatin1Char('.'));
        auto paint = [&](QRegExp pattern, QChar letter, int group) {
            for (int i = pattern.indexIn(line); i >= 0;) {
                const int start = pattern.pos(group), length = pattern.cap(group).size();
                out.replace(start, length, QString(length, letter));
                i = pattern.indexIn(line, group ? start + length : i + qMax(length, 1));
            }
        };
        paint(h.tagNamePattern, 'M', 1);
        for (const QRegExp &delimiter : h.delimiterPatterns)
            paint(delimiter, 'B', 0);
        paint(h.attributeNamePattern, 'G', 0);
        paint(h.commentPattern, 'Y', 0);
        paint(h.attributeValuePattern, 'R', 0);
        return out;
    };
    const QStringList pieces{"<",  ">",  "/",    "?",   "!",
                             "-",  "->", "<!--", "-->", "=",
                             "\"", "a",  "_b",   " ",   QString::fromUtf8("\u00e9")};
    uint32_t seed = 7;
    auto next = [&](uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return int((seed >> 16) % below);
    };
    QStringList lines;
    for (int n = 0; n < 3000; ++n) {
        QString line;
        for (int length = next(16); length > 0; --length)
            line += pieces.at(next(uint32_t(pieces.size())));
        lines << line;
    }
    // In the system's own encoding, as the viewer reads text without a mark.
    const QByteArray text = lines.join('\n').toLocal8Bit();
    std::unique_ptr<QTextEdit> editor(createXmlViewer(text.constData(), text.size()));
    QTextBlock block = editor->document()->firstBlock();
    for (const QString &line : lines) {
        QCOMPARE(block.text(), line);
        QCOMPARE(colours(block), expected(line));
        block = block.next();
    }
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

void TestTextViewers::longTextsAreCut_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("shown"); // bytes shown before the closing line; -1: all, no line
    const int limit = kTextPreviewLimit;
    QTest::newRow("at the limit") << QByteArray(limit, 'a') << -1;
    QTest::newRow("one byte over") << QByteArray(limit + 1, 'a') << limit;
    // A UTF-8 sequence across the limit is left out whole.
    QTest::newRow("character across the limit")
        << QByteArray(limit - 1, 'a') + "\xC3\xA9" + QByteArray(10, 'b') << limit - 1;
    QTest::newRow("one line of 50 MB") << QByteArray(50000000, 'x') << limit;
}

void TestTextViewers::longTextsAreCut()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, shown);
    const QString text = previewText(bytes.constData(), bytes.size());
    if (shown < 0) {
        QCOMPARE(text, decodeText(bytes.constData(), bytes.size()));
        return;
    }
    QCOMPARE(text.left(shown), decodeText(bytes.constData(), shown));
    QCOMPARE(text.mid(shown), QString("\n[The preview ends here: %1 more bytes are not shown.]")
                                  .arg(bytes.size() - shown));
    // What both viewers hold.
    std::unique_ptr<QPlainTextEdit> plain(createTextViewer(bytes.constData(), bytes.size()));
    QCOMPARE(plain->toPlainText(), text);
    std::unique_ptr<QTextEdit> xml(createXmlViewer(bytes.constData(), bytes.size()));
    QCOMPARE(xml->toPlainText(), text);
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
