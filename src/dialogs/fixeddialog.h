#pragma once

#include <QDialog>

// A modeless, fixed-size dialog that the main window creates once and opens
// many times. Closing it (a button, the close box) unloads it: the next
// opening loads it afresh, with empty contents, centred on the owner.
// Neither Enter nor Esc presses a button on their own.
class FixedDialog : public QDialog
{
    Q_OBJECT

public:
    // Client size in twips.
    FixedDialog(QWidget *owner, int clientWidth, int clientHeight);

    bool isLoaded() const { return m_loaded; }

protected:
    // Shows the dialog and brings it forward; loads it first when it was
    // closed since the last opening.
    void present();
    // Puts the contents back to the state of a freshly loaded dialog.
    virtual void clearContents() = 0;

    void done(int result) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    QWidget *m_owner;
    bool m_loaded = false;
};
