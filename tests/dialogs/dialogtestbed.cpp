#include "dialogs/dialogtestbed.h"

#include "support/testsupport.h"

#include "desktop/messagebox.h"

#include <QTest>

DialogTestBed::DialogTestBed()
{
    MessageBox::resetRecord();
    // Every box is answered in advance, so that an unexpected one fails a
    // check on MessageBox::lastText() instead of blocking the suite.
    for (int i = 0; i < 8; ++i)
        MessageBox::setNextAnswer(QMessageBox::Ok);
    m_owner.setGeometry(200, 150, 900, 600);
    m_owner.show();
    const QString path = m_dir.filePath(QStringLiteral("contacts.dat"));
    m_ready = m_dir.isValid() && m_database.create(path) == Database::OpenResult::Ok
              && (m_database.isOpen() || m_database.open(path) == Database::OpenResult::Ok);
    m_store = std::make_unique<ContactStore>(m_database);
}

ContactList DialogTestBed::addGroup(const QString &group, const QStringList &mobiles)
{
    ContactList added;
    if (m_store->addGroup(group) != StoreResult::Ok)
        return added;
    for (const QString &mobile : mobiles) {
        Contact contact;
        contact.setMobile(mobile);
        contact.setName(QStringLiteral("名") + mobile.right(2));
        contact.setSalutation(QStringLiteral("先生"));
        if (m_store->addContact(group, &contact) == StoreResult::Ok)
            added.append(contact);
    }
    return added;
}

QStringList DialogTestBed::groups()
{
    QStringList out;
    m_store->groups(&out);
    return out;
}

ContactList DialogTestBed::contacts(const QString &group)
{
    ContactList out;
    m_store->contacts(group, QString(), QString(), &out);
    return out;
}

void DialogTestBed::type(QWidget *widget, const QString &text)
{
    TestSupport::typeText(widget, text);
}
