#include "mainwindow/contactgrid.h"

#include "desktop/twips.h"
#include "mainwindow/contacttableview.h"
#include "mainwindow/gridlook.h"
#include "model/contactlistmodel.h"

#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

namespace {

// Twips. The area is wider than the box that clips it.
constexpr int AreaWidth = 7695;
constexpr int AreaHeight = 7470;
constexpr int HeaderHeight = 255;
constexpr int ScrollBarWidth = 255;
constexpr int ScrollBarInset = 60; // from the right edge of the box
const QColor AreaBackground(192, 255, 255);

struct HeaderButton
{
    int left;
    int width;
};
// Above the columns of the model.
constexpr HeaderButton HeaderButtons[5] = {{0, 315}, {300, 1335}, {1620, 1215}, {2820, 975}, {3780, 2655}};

// The area behind the rows; its colour shows only where no row or header
// covers it. Painted rather than set in the palette, which the header
// buttons would inherit.
class GridArea : public QWidget
{
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), AreaBackground); }
};

} // namespace

ContactGrid::ContactGrid(ContactListModel &model, QWidget *parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("Pt1"));
    setAccessibleName(QStringLiteral("通讯录"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);

    auto *area = new GridArea(this);
    area->setObjectName(QStringLiteral("Pt2"));
    area->setAttribute(Qt::WA_OpaquePaintEvent);
    area->setGeometry(QRect(contentsRect().topLeft(),
                            QSize(Twips::toPixels(AreaWidth), Twips::toPixels(AreaHeight))));

    m_scrollBar = new QScrollBar(Qt::Vertical, area);
    m_scrollBar->setObjectName(QStringLiteral("VS1"));
    m_scrollBar->setAccessibleName(QStringLiteral("滚动条"));
    m_scrollBar->setFocusPolicy(Qt::NoFocus);

    // The rows begin below the header buttons; 23 of them fill the rest of
    // the area (the last rule falls just below it).
    m_table = new ContactTableView(model, m_scrollBar, area);
    const int top = GridLook::headerHeight();
    m_table->setGeometry(0, top, area->width(), GridLook::rowHeight() * GridLook::ShownRows);
    setFocusProxy(m_table);

    // The column headers are buttons that do nothing when clicked.
    for (int column = 0; column < ContactListModel::ColumnCount; ++column) {
        auto *header = new QPushButton(
            model.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), area);
        header->setObjectName(QStringLiteral("Cm2(%1)").arg(column));
        if (header->text().isEmpty())
            header->setAccessibleName(
                model.headerData(column, Qt::Horizontal, Qt::AccessibleTextRole).toString());
        header->setFocusPolicy(Qt::NoFocus);
        Twips::place(header, HeaderButtons[column].left, 0, HeaderButtons[column].width, HeaderHeight);
    }
    m_scrollBar->raise();
}

void ContactGrid::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    const int width = Twips::toPixels(ScrollBarWidth);
    scrollBar()->setGeometry(this->width() - width - Twips::toPixels(ScrollBarInset), 0, width,
                             Twips::toPixels(AreaHeight) - 1);
}

int ContactGrid::scrollValue() const
{
    return m_table->scrollValue();
}

void ContactGrid::setScrollValue(int value)
{
    m_table->setScrollValue(value);
}

qsizetype ContactGrid::selectedIndex() const
{
    return m_table->selectedIndex();
}

void ContactGrid::selectShownRow(int shownRow)
{
    m_table->selectShownRow(shownRow);
}

qsizetype ContactGrid::contactAtRow(int shownRow) const
{
    return m_table->contactAtRow(shownRow);
}

QWidget *ContactGrid::rowArea() const
{
    return m_table->viewport();
}

QRect ContactGrid::tickCellRect(int shownRow) const
{
    return m_table->tickCellRect(shownRow);
}

QRect ContactGrid::cellRect(int shownRow, int column) const
{
    return m_table->cellRect(shownRow, column);
}
