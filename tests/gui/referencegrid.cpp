#include "gui/referencegrid.h"

#include "desktop/twips.h"
#include "mainwindow/tickimages.h"
#include "model/contactlistmodel.h"

#include <QPainter>
#include <QPushButton>
#include <QScrollBar>

namespace {

constexpr int ShownRows = 23;
constexpr int RowPitch = 315;
constexpr int FirstStripeTop = 240;
constexpr int StripeLeft = -60;
constexpr int StripeWidth = 16455;
constexpr int CellTop = 300;
constexpr int CellHeight = 195;
constexpr int TickLeft = 60;
constexpr int TickSize = 165;
constexpr int CanvasWidth = 7695;
constexpr int CanvasHeight = FirstStripeTop - 15 + RowPitch * ShownRows;

struct CellColumn
{
    int left;
    int width;
    Qt::Alignment alignment;
};
constexpr CellColumn CellColumns[4] = {{360, 1215, Qt::AlignLeft},
                                       {1680, 1095, Qt::AlignLeft},
                                       {2880, 855, Qt::AlignHCenter},
                                       {3840, 2655, Qt::AlignLeft}};
constexpr int VerticalRules[] = {0, 16425, 285, 1605, 2805, 3765, 6525};

struct HeaderButton
{
    const char *caption;
    int left;
    int width;
};
constexpr HeaderButton HeaderButtons[5] = {
    {"", 0, 315}, {"手机号", 300, 1335}, {"姓名", 1620, 1215}, {"称呼", 2820, 975}, {"备注信息", 3780, 2655}};

} // namespace

class ReferenceGrid::Canvas : public QWidget
{
public:
    Canvas(const ContactListModel &model, QWidget *parent)
        : QWidget(parent)
        , m_model(model)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    int firstShown = 0;
    qsizetype selected = -1;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(192, 255, 255));
        for (int row = 0; row < ShownRows; ++row) {
            const int top = row == 0 ? FirstStripeTop : FirstStripeTop - 15 + RowPitch * row;
            QColor colour = row % 2 == 0 ? QColor(249, 248, 245) : QColor(Qt::white);
            if (selected >= 0 && firstShown + row == selected)
                colour = QColor(0, 255, 255);
            painter.fillRect(Twips::rect(StripeLeft, top, StripeWidth, RowPitch), colour);
        }
        painter.setPen(QColor(224, 224, 224));
        for (int row = 0; row < ShownRows; ++row) {
            const int y = Twips::toPixels(540 + RowPitch * row);
            painter.drawLine(0, y, width(), y);
        }
        for (int x : VerticalRules) {
            const int px = Twips::toPixels(x);
            painter.drawLine(px, Twips::toPixels(240), px, Twips::toPixels(9120));
        }
        painter.setPen(palette().color(QPalette::WindowText));
        for (int row = 0; row < ShownRows; ++row) {
            const qsizetype index = firstShown + row;
            if (index >= m_model.size())
                break;
            const Contact &contact = m_model.at(index);
            const std::array<QStringView, 4> texts = contact.texts();
            for (int column = 0; column < 4; ++column) {
                const QRect cell = Twips::rect(CellColumns[column].left, CellTop + RowPitch * row,
                                               CellColumns[column].width, CellHeight);
                painter.save();
                painter.setClipRect(cell);
                painter.drawText(cell.adjusted(0, -2, 0, 2),
                                 CellColumns[column].alignment | Qt::AlignVCenter, texts[column].toString());
                painter.restore();
            }
            painter.drawPixmap(Twips::rect(TickLeft, CellTop + RowPitch * row, TickSize, TickSize)
                                   .topLeft(),
                               contact.ticked ? TickImages::ticked() : TickImages::unticked());
        }
    }

private:
    const ContactListModel &m_model;
};

ReferenceGrid::ReferenceGrid(const ContactListModel &model, QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setLineWidth(2);
    m_canvas = new Canvas(model, this);
    m_canvas->setGeometry(QRect(contentsRect().topLeft(),
                                QSize(Twips::toPixels(CanvasWidth), Twips::toPixels(CanvasHeight))));
    for (const HeaderButton &entry : HeaderButtons) {
        auto *header = new QPushButton(QString::fromUtf8(entry.caption), m_canvas);
        header->setFocusPolicy(Qt::NoFocus);
        Twips::place(header, entry.left, 0, entry.width, 255);
    }
    m_scrollBar = new QScrollBar(Qt::Vertical, m_canvas);
    m_scrollBar->setFocusPolicy(Qt::NoFocus);
    m_scrollBar->setSingleStep(1);
    m_scrollBar->setPageStep(ShownRows);
    const bool scrolls = model.size() > ShownRows;
    m_scrollBar->setRange(0, scrolls ? int(model.size() - ShownRows) : 0);
    m_scrollBar->setEnabled(scrolls);
}

void ReferenceGrid::showFrom(int firstShown, qsizetype selected)
{
    m_scrollBar->setValue(firstShown);
    m_canvas->firstShown = m_scrollBar->value();
    m_canvas->selected = selected;
    m_canvas->update();
}

void ReferenceGrid::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    m_scrollBar->setGeometry(width() - Twips::toPixels(255) - Twips::toPixels(60), 0,
                             Twips::toPixels(255), Twips::toPixels(CanvasHeight) - 1);
}
