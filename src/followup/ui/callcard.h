#pragma once

#include <QDialog>

class QLabel;

// "拨打电话" without a phone that dials by itself: the number large, and a
// QR code of its tel: address that a phone's camera dials from.
class CallCard : public QDialog
{
    Q_OBJECT

public:
    explicit CallCard(QWidget *parent);

    // Shows the card for the number; reason (may be "") says why the phone
    // link did not dial.
    void showFor(const QString &mobile, const QString &telUrl, const QString &reason);

    QString shownNumber() const;
    QString shownUrl() const { return m_url; }
    const QImage &qrImage() const { return m_image; }

private:
    QLabel *m_number = nullptr;
    QLabel *m_code = nullptr;
    QLabel *m_reason = nullptr;
    QString m_url;
    QImage m_image;
};
