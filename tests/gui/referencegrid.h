#pragma once

#include <QFrame>

class ContactListModel;
class QScrollBar;

// The contact grid as it was painted before it became a table view: one
// canvas with 23 painted rows, the header buttons and the scroll bar. Kept
// only to show that the table looks the same.
class ReferenceGrid : public QFrame
{
public:
    explicit ReferenceGrid(const ContactListModel &model, QWidget *parent = nullptr);

    // Shows the model from firstShown on, with the contact selected highlighted.
    void showFrom(int firstShown, qsizetype selected);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    class Canvas;
    Canvas *m_canvas = nullptr;
    QScrollBar *m_scrollBar = nullptr;
};
