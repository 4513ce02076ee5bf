#pragma once

#include "contact.h"
#include "fixeddialog.h"

#include <functional>

class ContactStore;
class QLineEdit;
enum class StoreResult;

// Asks for the name of a new group. Opened to add an empty group, or to save
// the ticked contacts of the working list as a new group; the caption tells
// which.
class GroupDialog : public FixedDialog
{
    Q_OBJECT

public:
    GroupDialog(ContactStore &store, std::function<ContactList()> workingList, QWidget *owner);

    void openForAdd();
    void openForSaveAs();

signals:
    // A group was added or the name was refused: the group list should be
    // filled again from the store.
    void groupsChanged();

protected:
    void clearContents() override;

private:
    void openWithCaption(const QString &caption);
    void confirm();
    StoreResult createGroup(const QString &name);
    void reportFailure(StoreResult result);

    ContactStore &m_store;
    std::function<ContactList()> m_workingList;
    QLineEdit *m_nameBox = nullptr;
};
