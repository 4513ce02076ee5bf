#pragma once

#include "core/contact.h"
#include "storage/contactstore.h"
#include "storage/database.h"

#include <QString>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>

class QAbstractButton;
class QLineEdit;

// A fresh contact database in a temporary folder, a store over it and a
// main window stand-in that owns the dialog under test.
class DialogTestBed
{
public:
    DialogTestBed();

    bool isReady() const { return m_ready; }
    ContactStore &store() { return *m_store; }
    Database &database() { return m_database; }
    QWidget &owner() { return m_owner; }

    // Stores a group with contacts "mobile", name and salutation derived
    // from the mobile; returns the stored contacts with their identities.
    ContactList addGroup(const QString &group, const QStringList &mobiles);

    QStringList groups();
    ContactList contacts(const QString &group);

    // Types text key by key, Chinese included (QTest::keyClicks takes ASCII only).
    static void type(QWidget *widget, const QString &text);

    template<typename T>
    static T *child(QWidget *dialog, const QString &objectName)
    {
        return dialog->findChild<T *>(objectName);
    }

private:
    QTemporaryDir m_dir;
    Database m_database;
    std::unique_ptr<ContactStore> m_store;
    QWidget m_owner;
    bool m_ready = false;
};
