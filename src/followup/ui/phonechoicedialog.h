#pragma once

#include "followup/ui/phonedialer.h"

#include <QDialog>

class QCheckBox;
class QListWidget;

// "用哪部手机拨打": with several phones that can dial, the user picks one,
// and may have it kept for the rest of the run.
class PhoneChoiceDialog : public QDialog
{
    Q_OBJECT

public:
    PhoneChoiceDialog(const QList<PhoneDialer::Phone> &phones, const QString &number,
                      QWidget *parent);

    // The phone picked (the first one unless the user picked another).
    PhoneDialer::Phone chosen() const;
    // Is the choice to be kept for the rest of the run?
    bool remember() const;

private:
    QList<PhoneDialer::Phone> m_phones;
    QListWidget *m_list = nullptr;
    QCheckBox *m_remember = nullptr;
};
