#include "dialogs/fixeddialog.h"

#include "desktop/twips.h"

#include <QKeyEvent>

FixedDialog::FixedDialog(QWidget *owner, int clientWidth, int clientHeight)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                         | Qt::WindowCloseButtonHint)
    , m_owner(owner)
{
    setModal(false);
    Twips::fixClientSize(this, clientWidth, clientHeight);
}

void FixedDialog::present()
{
    const bool afresh = !m_loaded;
    if (afresh) {
        m_loaded = true;
        clearContents();
    }
    show();
    // Centred once shown, when the size of the window frame is known.
    if (afresh)
        Twips::centreOn(this, m_owner);
    raise();
    activateWindow();
}

void FixedDialog::done(int result)
{
    m_loaded = false;
    clearContents();
    QDialog::done(result);
}

void FixedDialog::keyPressEvent(QKeyEvent *event)
{
    // QDialog would close on Esc and press a default button on Enter; these
    // dialogs have neither a cancel nor a default button.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}
