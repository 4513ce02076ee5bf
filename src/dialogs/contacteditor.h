#pragma once

#include "core/contact.h"
#include "dialogs/fixeddialog.h"

#include <array>

class ContactStore;
class QLineEdit;
class QPushButton;
enum class StoreResult;

// The contact editor: adds one contact to a group or changes one. The main
// window creates it once; it stays modeless, so the main window can go on
// being used while it is open.
class ContactEditor : public FixedDialog
{
    Q_OBJECT

public:
    ContactEditor(ContactStore &store, QWidget *owner);

    // Opens the editor to add a contact to group. An editor that is still
    // open keeps what its boxes hold; one opened afresh starts empty.
    void openForAdd(const QString &group);
    // Opens the editor on contact (texts as stored, untrimmed). The save
    // changes exactly this contact, found by its identity; a stored contact
    // is written into group, so pass the group it was loaded from.
    void openForModify(const QString &group, const Contact &contact);

signals:
    // A save passed validation and reached the store (written or refused as
    // a duplicate): the contact list should be reloaded from the store.
    void contactSaved();
    // An entry that exists only in the working list was edited; it keeps its
    // identity and tick, the texts are trimmed as a save would store them.
    void workingEntryEdited(const Contact &edited);

protected:
    void clearContents() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum Field { Mobile, Name, Salutation, Remark, FieldCount };

    void save();
    Contact typedContact() const;
    void setGroup(const QString &group);
    void finishStoreSave(StoreResult result, const QString &error);
    void refuseDuplicate();

    ContactStore &m_store;
    std::array<QLineEdit *, FieldCount> m_boxes{};
    QPushButton *m_saveButton = nullptr;
    QPushButton *m_cancelButton = nullptr;

    QString m_group; // the group the contact is written into
    bool m_addMode = true;
    Contact m_opened; // the contact being modified (identity and tick)
};
