#include "dialogs/dialoglabels.h"

#include "desktop/twips.h"

#include <QLabel>

namespace DialogLabels {

void setTextColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

void setUp(QLabel *label, const char *objectName, const QColor &colour, int left, int top,
           int width, int height, const QString &accessibleName)
{
    label->setObjectName(QLatin1String(objectName));
    // A label with text is named by its text; only pictures need a name.
    if (!accessibleName.isEmpty())
        label->setAccessibleName(accessibleName);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextColour(label, colour);
    Twips::place(label, left, top, width, height);
    if (label->sizeHint().width() > label->width())
        label->resize(label->sizeHint().width(), label->height());
}

QLabel *add(QWidget *parent, const char *objectName, const QString &text, const QColor &colour,
            int left, int top, int width, int height)
{
    auto *label = new QLabel(text, parent);
    setUp(label, objectName, colour, left, top, width, height);
    return label;
}

QLabel *addParagraph(QWidget *parent, const char *objectName, const QString &text,
                     const QColor &colour, int left, int top, int width, int height)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    setUp(label, objectName, colour, left, top, width, height);
    return label;
}

} // namespace DialogLabels
