#pragma once

#include "core/contact.h"
#include "dialogs/fixeddialog.h"

#include <functional>

class ContactStore;
class QLineEdit;
enum class StoreResult;

// Asks for the name of a new group. Opened to add an empty group, or to save
// the ticked contacts of the working list as a new group.
class GroupDialog : public FixedDialog
{
    Q_OBJECT

public:
    enum class Mode { AddGroup, SaveAsGroup };
    // The contacts a save-as copies, asked for when the name is confirmed.
    using TickedContacts = std::function<ContactList()>;

    GroupDialog(ContactStore &store, TickedContacts tickedContacts, QWidget *owner);

    Mode mode() const { return m_mode; }

    void openForAdd();
    void openForSaveAs();

signals:
    // A group was added or the name was refused: the group list should be
    // filled again from the store.
    void groupsChanged();

protected:
    void clearContents() override;

private:
    struct Skipped
    {
        Contact contact;
        QString reason;
    };

    void openIn(Mode mode);
    void confirm();
    StoreResult createGroup(const QString &name, int *copied, QList<Skipped> *skipped,
                            QString *error);
    void reportSkipped(const QString &name, int copied, const QList<Skipped> &skipped);
    void reportFailure(StoreResult result, const QString &error);

    ContactStore &m_store;
    TickedContacts m_tickedContacts;
    Mode m_mode = Mode::AddGroup;
    QLineEdit *m_nameBox = nullptr;
};
