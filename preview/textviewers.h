#pragma once

#include <QFont>
#include <QString>

class QPlainTextEdit;
class QTextEdit;

// The entry's bytes as text, through a QTextStream at its defaults: the
// locale's codec, or UTF-8, UTF-16 or UTF-32 when a byte-order mark says so.
QString decodeText(const char *data, int size);

// The most bytes of an entry the text viewers show. Qt lays out and colours
// a document whole, at up to a second per MiB when it is all one line, and a
// huge line overflows its layout: a preview shows the start of a long file.
constexpr int kTextPreviewLimit = 1 << 20;

// The text a viewer shows for `data`: decodeText of its first
// kTextPreviewLimit bytes (cut before a partial UTF-8 sequence), then, when
// bytes were left out, one line that says how many.
QString previewText(const char *data, int size);

// 10-point fixed-pitch "Courier", the font of both text viewers.
QFont viewerFont();

// A plain-text editor for INI and CSV files showing previewText, without
// line wrapping. The caller owns it; it keeps no pointer to `data`.
QPlainTextEdit *createTextViewer(const char *data, int size);

// A text editor for XML files showing previewText, coloured by
// BasicXMLSyntaxHighlighter, tabs four spaces wide, without line wrapping.
// The caller owns it.
QTextEdit *createXmlViewer(const char *data, int size);
