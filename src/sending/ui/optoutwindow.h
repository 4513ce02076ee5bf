#pragma once

#include <QDialog>

class QPlainTextEdit;
class QTableWidget;
class SendingService;

// "退订名单": the numbers never sent to, with when and how each came on the
// list; numbers are added (typed or pasted, one a line) and removed here.
class OptOutWindow : public QDialog
{
    Q_OBJECT

public:
    OptOutWindow(SendingService &service, QWidget *parent = nullptr);

    void reload();
    // Adds the numbers typed in the box; names those that are not mobiles.
    void addTyped();
    void removeSelected();

private:
    SendingService &m_service;
    QTableWidget *m_table = nullptr;
    QPlainTextEdit *m_input = nullptr;
};
