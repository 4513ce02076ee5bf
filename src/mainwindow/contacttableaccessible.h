#pragma once

class ContactTableView;
class QItemSelection;
class QModelIndex;

// What assistive technology sees of the contact grid: a table whose children
// are the rows of the working list, each with its five cells; the tick cell
// is a check box whose toggle action ticks the contact.
namespace ContactTableAccessible {

// Registers the interface for ContactTableView (once per process).
void install();

// Tell assistive technology, when one listens, about the current cell and
// the selected row.
void notifyFocus(ContactTableView *view, const QModelIndex &index);
void notifySelection(ContactTableView *view, const QItemSelection &selected,
                     const QItemSelection &deselected);

} // namespace ContactTableAccessible
