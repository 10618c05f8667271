#pragma once

#include <QFont>
#include <QString>

class QPlainTextEdit;
class QTextEdit;

// The entry's bytes as text, through a QTextStream at its defaults: the
// locale's codec, or UTF-8, UTF-16 or UTF-32 when a byte-order mark says so.
QString decodeText(const char *data, int size);

// 10-point fixed-pitch "Courier", the font of both text viewers.
QFont viewerFont();

// A plain-text editor for INI and CSV files, without line wrapping. The
// caller owns it; it keeps no pointer to `data`.
QPlainTextEdit *createTextViewer(const char *data, int size);

// A text editor for XML files, coloured by BasicXMLSyntaxHighlighter, tabs
// four spaces wide, without line wrapping. The caller owns it.
QTextEdit *createXmlViewer(const char *data, int size);
