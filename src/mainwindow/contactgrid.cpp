#include "contactgrid.h"

#include "contactlistmodel.h"
#include "tickimages.h"
#include "twips.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

namespace {

// Layout of the grid in twips, relative to the canvas.
constexpr int RowPitch = 315;
constexpr int FirstStripeTop = 240;
constexpr int StripeLeft = -60;
constexpr int StripeWidth = 16455;
constexpr int CellTop = 300;
constexpr int CellHeight = 195;
constexpr int TickLeft = 60;
constexpr int TickSize = 165;
constexpr int RuleTop = 240;
constexpr int RuleBottom = 9120;
constexpr int CanvasWidth = 7695;
constexpr int CanvasHeight = FirstStripeTop - 15 + RowPitch * ContactGrid::ShownRows; // 7470

struct CellColumn
{
    int left;
    int width;
    Qt::Alignment alignment;
};
// Mobile, name, salutation, remark.
constexpr CellColumn CellColumns[4] = {{360, 1215, Qt::AlignLeft},
                                       {1680, 1095, Qt::AlignLeft},
                                       {2880, 855, Qt::AlignHCenter},
                                       {3840, 2655, Qt::AlignLeft}};
// Vertical rules: the left edge, then right of each cell column plus 30.
constexpr int VerticalRules[] = {0, 16425, 285, 1605, 2805, 3765, 6525};

struct HeaderButton
{
    const char *caption;
    int left;
    int width;
};
constexpr HeaderButton HeaderButtons[5] = {
    {"", 0, 315}, {"手机号", 300, 1335}, {"姓名", 1620, 1215}, {"称呼", 2820, 975}, {"备注信息", 3780, 2655}};

const QColor CanvasBackground(192, 255, 255);
const QColor RuleColour(224, 224, 224);
const QColor EvenStripe(249, 248, 245);
const QColor SelectedStripe(0, 255, 255);

int stripeTopTwips(int row)
{
    return row == 0 ? FirstStripeTop : FirstStripeTop - 15 + RowPitch * row;
}

} // namespace

class GridCanvas : public QWidget
{
public:
    explicit GridCanvas(ContactGrid &grid)
        : QWidget(&grid)
        , m_grid(grid)
    {
        setObjectName(QStringLiteral("Pt2"));
        setAccessibleName(QStringLiteral("通讯录"));
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), CanvasBackground);
        for (int row = 0; row < ContactGrid::ShownRows; ++row)
            painter.fillRect(m_grid.stripeRect(row), m_grid.rowColour(row));

        painter.setPen(RuleColour);
        for (int row = 0; row < ContactGrid::ShownRows; ++row) {
            const int y = Twips::toPixels(540 + RowPitch * row);
            painter.drawLine(0, y, width(), y);
        }
        for (int x : VerticalRules) {
            const int px = Twips::toPixels(x);
            painter.drawLine(px, Twips::toPixels(RuleTop), px, Twips::toPixels(RuleBottom));
        }

        painter.setPen(palette().color(QPalette::WindowText));
        for (int row = 0; row < ContactGrid::ShownRows; ++row) {
            const qsizetype index = m_grid.contactAtRow(row);
            if (index < 0)
                continue;
            const Contact &contact = m_grid.m_model.at(index);
            const QString texts[4] = {contact.mobile, contact.name, contact.salutation,
                                      contact.remark};
            for (int column = 0; column < 4; ++column) {
                const QRect cell = m_grid.cellRect(row, column + 1);
                painter.save();
                painter.setClipRect(cell);
                painter.drawText(cell.adjusted(0, -2, 0, 2),
                                 CellColumns[column].alignment | Qt::AlignVCenter, texts[column]);
                painter.restore();
            }
            painter.drawPixmap(m_grid.tickCellRect(row).topLeft(),
                               contact.ticked ? TickImages::ticked() : TickImages::unticked());
        }
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton) {
            m_grid.setFocus(Qt::MouseFocusReason);
            m_grid.clickAt(event->position().toPoint());
        }
    }

private:
    ContactGrid &m_grid;
};

ContactGrid::ContactGrid(ContactListModel &model, QWidget *parent)
    : QFrame(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("Pt1"));
    setAccessibleName(QStringLiteral("通讯录"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    setFocusPolicy(Qt::StrongFocus);

    m_canvas = new GridCanvas(*this);
    m_canvas->setGeometry(QRect(contentsRect().topLeft(),
                                QSize(Twips::toPixels(CanvasWidth), Twips::toPixels(CanvasHeight))));

    for (int i = 0; i < 5; ++i) {
        auto *header = new QPushButton(QString::fromUtf8(HeaderButtons[i].caption), m_canvas);
        header->setObjectName(QStringLiteral("Cm2(%1)").arg(i));
        header->setAccessibleName(i == 0 ? QStringLiteral("勾选") : header->text());
        header->setFocusPolicy(Qt::NoFocus);
        Twips::place(header, HeaderButtons[i].left, 0, HeaderButtons[i].width, 255);
    }

    m_scrollBar = new QScrollBar(Qt::Vertical, m_canvas);
    m_scrollBar->setObjectName(QStringLiteral("VS1"));
    m_scrollBar->setAccessibleName(QStringLiteral("滚动条"));
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->setSingleStep(1);
    m_scrollBar->setPageStep(ShownRows);
    m_scrollBar->setEnabled(false);
    m_scrollBar->setRange(0, 0);
    connect(m_scrollBar, &QScrollBar::valueChanged, m_canvas, qOverload<>(&QWidget::update));

    connect(&m_model, &QAbstractItemModel::modelReset, this, &ContactGrid::resetAfterLoad);
    connect(&m_model, &QAbstractItemModel::rowsRemoved, this, &ContactGrid::onRowsRemoved);
    connect(&m_model, &QAbstractItemModel::dataChanged, m_canvas, qOverload<>(&QWidget::update));
    resetAfterLoad();
}

void ContactGrid::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    // The scroll bar stands 60 twips inside the right edge, as tall as the rows.
    const int canvasHeight = Twips::toPixels(CanvasHeight);
    m_scrollBar->setGeometry(width() - Twips::toPixels(255) - Twips::toPixels(60), 0,
                             Twips::toPixels(255), canvasHeight - 1);
}

int ContactGrid::scrollValue() const
{
    return m_scrollBar->value();
}

void ContactGrid::setScrollValue(int value)
{
    m_scrollBar->setValue(value);
}

void ContactGrid::selectShownRow(int shownRow)
{
    const qsizetype index = contactAtRow(shownRow);
    if (index < 0)
        return;
    m_selected = index;
    m_canvas->update();
}

void ContactGrid::clearSelection()
{
    m_selected = -1;
    m_canvas->update();
}

qsizetype ContactGrid::contactAtRow(int shownRow) const
{
    if (shownRow < 0 || shownRow >= ShownRows)
        return -1;
    const qsizetype index = qsizetype(scrollValue()) + shownRow;
    return index < m_model.size() ? index : -1;
}

QColor ContactGrid::rowColour(int shownRow) const
{
    // The highlight stays with the selected contact while the list scrolls.
    if (m_selected >= 0 && contactAtRow(shownRow) == m_selected)
        return SelectedStripe;
    return stripeColour(shownRow);
}

QColor ContactGrid::stripeColour(int shownRow)
{
    return shownRow % 2 == 0 ? EvenStripe : QColor(Qt::white);
}

bool ContactGrid::isTickCellVisible(int shownRow) const
{
    return contactAtRow(shownRow) >= 0;
}

QRect ContactGrid::stripeRect(int shownRow) const
{
    return Twips::rect(StripeLeft, stripeTopTwips(shownRow), StripeWidth, RowPitch);
}

QRect ContactGrid::tickCellRect(int shownRow) const
{
    return Twips::rect(TickLeft, CellTop + RowPitch * shownRow, TickSize, TickSize);
}

QRect ContactGrid::cellRect(int shownRow, int column) const
{
    const CellColumn &cell = CellColumns[qBound(1, column, 4) - 1];
    return Twips::rect(cell.left, CellTop + RowPitch * shownRow, cell.width, CellHeight);
}

QWidget *ContactGrid::canvas() const
{
    return m_canvas;
}

void ContactGrid::resetAfterLoad()
{
    const qsizetype count = m_model.size();
    const bool scrolls = count > ShownRows;
    m_scrollBar->setRange(0, scrolls ? int(count - ShownRows) : 0);
    m_scrollBar->setValue(0);
    m_scrollBar->setEnabled(scrolls);
    m_selected = -1;
    m_canvas->update();
}

void ContactGrid::onRowsRemoved()
{
    // Only a single working-list entry is ever removed; keep the view where
    // it was, within the shorter range.
    const qsizetype count = m_model.size();
    const bool scrolls = count > ShownRows;
    const int value = scrollValue();
    m_scrollBar->setRange(0, scrolls ? int(count - ShownRows) : 0);
    m_scrollBar->setValue(scrolls ? qMin(value, int(count - ShownRows)) : 0);
    m_scrollBar->setEnabled(scrolls);
    m_selected = -1;
    m_canvas->update();
}

void ContactGrid::clickAt(const QPoint &canvasPoint)
{
    for (int row = 0; row < ShownRows; ++row) {
        if (isTickCellVisible(row) && tickCellRect(row).contains(canvasPoint)) {
            m_model.toggleTicked(contactAtRow(row));
            return;
        }
    }
    // Rows overlap by one pixel; the lower row lies behind the upper one.
    for (int row = 0; row < ShownRows; ++row) {
        if (stripeRect(row).contains(canvasPoint)) {
            selectShownRow(row);
            return;
        }
    }
}

void ContactGrid::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
        moveSelection(-1);
        break;
    case Qt::Key_Down:
        moveSelection(1);
        break;
    case Qt::Key_PageUp:
        moveSelection(-ShownRows);
        break;
    case Qt::Key_PageDown:
        moveSelection(ShownRows);
        break;
    case Qt::Key_Space:
        if (m_selected >= 0)
            m_model.toggleTicked(m_selected);
        break;
    default:
        QFrame::keyPressEvent(event);
    }
}

void ContactGrid::wheelEvent(QWheelEvent *event)
{
    const int steps = event->angleDelta().y() / 40; // three rows a notch
    if (steps != 0 && m_scrollBar->isEnabled())
        m_scrollBar->setValue(m_scrollBar->value() - steps);
    event->accept();
}

void ContactGrid::moveSelection(int delta)
{
    if (m_model.isEmpty())
        return;
    const qsizetype from = m_selected < 0 ? scrollValue() - (delta > 0 ? 1 : 0) : m_selected;
    m_selected = qBound<qsizetype>(0, from + delta, m_model.size() - 1);
    ensureSelectionVisible();
    m_canvas->update();
}

void ContactGrid::ensureSelectionVisible()
{
    if (m_selected < scrollValue())
        setScrollValue(int(m_selected));
    else if (m_selected >= qsizetype(scrollValue()) + ShownRows)
        setScrollValue(int(m_selected - ShownRows + 1));
}
