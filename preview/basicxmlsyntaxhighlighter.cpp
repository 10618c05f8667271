#include "basicxmlsyntaxhighlighter.h"

namespace {

// A character that the patterns' \w matches.
bool isWordCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c == QLatin1Char('_');
}

} // namespace

BasicXMLSyntaxHighlighter::BasicXMLSyntaxHighlighter(QObject *parent) : QSyntaxHighlighter(parent)
{
    tagNamePattern = QRegExp(QStringLiteral("<[\\s]*[/]?[\\s]*([^\\n]\\w*)(?=[\\s/>])"));
    attributeNamePattern = QRegExp(QStringLiteral("\\w+(?=\\=)"));
    attributeValuePattern = QRegExp(QStringLiteral("\"[^\\n\"]+\"(?=[\\s/>])"));
    commentPattern = QRegExp(QStringLiteral("<!--[^\\n]*-->"));
    for (const char *delimiter : {"<\\?", "/>", ">", "<", "</", "\\?>"})
        delimiterPatterns << QRegExp(QString::fromLatin1(delimiter));

    delimiterFormat.setForeground(Qt::blue);
    delimiterFormat.setFontWeight(QFont::Bold);
    tagNameFormat.setForeground(Qt::darkMagenta);
    tagNameFormat.setFontWeight(QFont::Bold);
    attributeNameFormat.setForeground(Qt::darkGreen);
    attributeNameFormat.setFontWeight(QFont::Bold);
    attributeNameFormat.setFontItalic(true);
    attributeValueFormat.setForeground(Qt::darkRed);
    commentFormat.setForeground(Qt::gray);
}

BasicXMLSyntaxHighlighter::~BasicXMLSyntaxHighlighter() = default;

void BasicXMLSyntaxHighlighter::highlightBlock(const QString &line)
{
    const QString text = line.size() > kColouredLineLength ? line.left(kColouredLineLength) : line;
    // Tag names: only the captured name is coloured.
    int index = tagNamePattern.indexIn(text);
    while (index >= 0) {
        const int start = tagNamePattern.pos(1);
        const int length = tagNamePattern.cap(1).length();
        setFormat(start, length, tagNameFormat);
        index = tagNamePattern.indexIn(text, start + length);
    }
    for (QRegExp &delimiter : delimiterPatterns)
        formatMatches(text, delimiter, delimiterFormat);

    // The attribute-name and comment patterns backtrack over the rest of the
    // line from every place they are tried, which takes minutes on one long
    // line. Their matches are found here in one pass each instead: the same
    // matches, in the same order.
    //
    // \w+(?=\=): every whole run of word characters directly before an "="
    // (a search restarts at the "=" that ended the last match, where no run
    // can begin).
    for (int equals = text.indexOf(QLatin1Char('=')); equals >= 0;
         equals = text.indexOf(QLatin1Char('='), equals + 1)) {
        int start = equals;
        while (start > 0 && isWordCharacter(text.at(start - 1)))
            --start;
        if (start < equals)
            setFormat(start, equals - start, attributeNameFormat);
    }
    // <!--[^\n]*-->: from the first "<!--" to the last "-->" that follows it
    // (the greedy middle takes the rest of the line and gives back only what
    // it must), so at most one match per line.
    const int arrow = text.lastIndexOf(QLatin1String("-->"));
    const int open = text.indexOf(QLatin1String("<!--"));
    if (open >= 0 && arrow >= open + 4)
        setFormat(open, arrow + 3 - open, commentFormat);

    formatMatches(text, attributeValuePattern, attributeValueFormat);
}

void BasicXMLSyntaxHighlighter::formatMatches(const QString &text, QRegExp &pattern,
                                              const QTextCharFormat &format)
{
    int index = pattern.indexIn(text);
    while (index >= 0) {
        const int length = pattern.matchedLength();
        setFormat(index, length, format);
        index = pattern.indexIn(text, index + qMax(length, 1));
    }
}
