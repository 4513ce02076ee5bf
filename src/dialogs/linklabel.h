#pragma once

#include <QLabel>

// A label that acts as a web link: blue text, pointing-hand pointer, and a
// click (or Space/Enter when it has focus) emits clicked().
class LinkLabel : public QLabel
{
    Q_OBJECT

public:
    explicit LinkLabel(const QString &text, QWidget *parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
};
