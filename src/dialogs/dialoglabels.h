#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QWidget;

// The fixed labels of the small dialogs: placed in twips, coloured, named.
namespace DialogLabels {

inline const QColor Black(0, 0, 0);
inline const QColor Red(255, 0, 0);
inline const QColor Blue(0, 0, 255);

void setTextColour(QLabel *label, const QColor &colour);

// Gives label its objectName, the accessible name when one is given (a label
// with text is named by its text), the colour and the twip geometry. A label
// whose text needs more room than the given width grows to the right, so
// that no text is cut off (the layout was measured with a narrower font).
void setUp(QLabel *label, const char *objectName, const QColor &colour, int left, int top,
           int width, int height, const QString &accessibleName = QString());

// A new plain label set up as above.
QLabel *add(QWidget *parent, const char *objectName, const QString &text, const QColor &colour,
            int left, int top, int width, int height);

// A label for several lines of text, a pixel smaller than the others so that
// the lines fit their box as they did in the original layout.
QLabel *addParagraph(QWidget *parent, const char *objectName, const QString &text,
                     const QColor &colour, int left, int top, int width, int height);

} // namespace DialogLabels
