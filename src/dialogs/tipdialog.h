#pragma once

#include <QDialog>

// Shown after the phone contact-book file was written: how to move the file
// to the phone, and a link to the detailed instructions. Modeless, one
// instance.
class TipDialog : public QDialog
{
    Q_OBJECT

public:
    // Creates the dialog centred on owner, or brings the open one forward.
    static TipDialog *showFor(QWidget *owner);
    // The open dialog, or nullptr.
    static TipDialog *current();

private:
    explicit TipDialog(QWidget *owner);
};
