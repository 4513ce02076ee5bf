#pragma once

#include <QChar>
#include <QString>
#include <QStringView>

// The form in which the recipient list box's document holds its lines. A
// text document pays several hundred bytes for every paragraph, so the lines
// are kept in paragraphs of about 32 lines, joined by line separators (which
// the box shows as ordinary line breaks). No widgets: the recipient lines
// are worked out in this form without a box.
namespace DocumentLines {

// The break that follows a line: a paragraph separator after about one
// line in 32 (chosen by the line's text) and where index is one less than
// a multiple of 128 (so that runs of equal lines stay short), a line
// separator otherwise. index is the line's number, or for the recipient
// list its contact's position, which ticks do not move.
QChar breakAfter(QStringView line, qsizetype index);
// The text as the document holds it: every line followed by its break.
QString documentTextFor(QStringView text);

} // namespace DocumentLines
