#pragma once

#include <QDialog>

// Version, maker and home page. Modeless, one instance, no buttons: it is
// closed with its close box.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    // Creates the dialog centred on owner, or brings the open one forward.
    static AboutDialog *showFor(QWidget *owner);
    // The open dialog, or nullptr.
    static AboutDialog *current();

private:
    explicit AboutDialog(QWidget *owner);
};
