#pragma once

#include "desktop/twips.h"

#include <QPointer>
#include <QWidget>

// A fixed-size dialog window: a title and a close box, nothing else.
inline constexpr Qt::WindowFlags FixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint
    | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// A modeless dialog that exists once: the first call creates it (make()),
// centres it on its owner and shows it; later calls bring the same window
// forward. The dialog deletes itself when closed, so the next call creates
// and centres it afresh.
template<typename Dialog, typename Make>
Dialog *showSingleDialog(QPointer<Dialog> &instance, QWidget *owner, Make make)
{
    if (!instance) {
        instance = make(owner);
        instance->setAttribute(Qt::WA_DeleteOnClose);
        Twips::centreOn(instance, owner);
        instance->show();
        return instance;
    }
    instance->show();
    instance->raise();
    instance->activateWindow();
    return instance;
}
