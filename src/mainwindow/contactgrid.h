#pragma once

#include <QFrame>
#include <QPointer>

class ContactListModel;
class GridCanvas;
class QPushButton;
class QScrollBar;

// The contact grid: 23 fixed rows over the working list, with a tick cell per
// row, striped rows, row selection and a vertical scroll bar. The frame is
// the sunken box "Pt1"; the rows are painted on the canvas "Pt2" inside it.
class ContactGrid : public QFrame
{
    Q_OBJECT

public:
    static constexpr int ShownRows = 23;

    explicit ContactGrid(ContactListModel &model, QWidget *parent = nullptr);

    // First contact shown (the scroll bar's value).
    int scrollValue() const;
    void setScrollValue(int value);

    // The selected contact's position in the working list, or -1.
    qsizetype selectedIndex() const { return m_selected; }
    // Selects the contact shown in row shownRow; a row below a short list
    // does nothing.
    void selectShownRow(int shownRow);
    void clearSelection();

    // Contact position shown in a row, or -1 for an empty row.
    qsizetype contactAtRow(int shownRow) const;
    // What a row looks like, for the window and its tests.
    QColor rowColour(int shownRow) const;
    bool isTickCellVisible(int shownRow) const;
    // Row geometry on the canvas, in pixels.
    QRect stripeRect(int shownRow) const;
    QRect tickCellRect(int shownRow) const;
    QRect cellRect(int shownRow, int column) const; // column 1..4: mobile..remark

    QWidget *canvas() const;
    QScrollBar *scrollBar() const { return m_scrollBar; }

    static QColor stripeColour(int shownRow);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class GridCanvas;
    void resetAfterLoad();
    void onRowsRemoved();
    void clickAt(const QPoint &canvasPoint);
    void moveSelection(int delta);
    void ensureSelectionVisible();

    ContactListModel &m_model;
    GridCanvas *m_canvas = nullptr;
    QScrollBar *m_scrollBar = nullptr;
    qsizetype m_selected = -1;
};
