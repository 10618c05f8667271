#pragma once

class QWidget;

// A sample sheet of the TrueType font in `data`: for each family that
// registering it yields, the family's name and a five-line sample at 48
// points, centred. The font previously registered through `fontId` (unless
// it is -1) is removed first; the new id, -1 for bytes that are not a font,
// is stored in `fontId`. The font database keeps its own copy of the bytes.
// The caller owns the sheet.
QWidget *createFontViewer(const char *data, int size, int &fontId);
