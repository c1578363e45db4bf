// Rows read straight from the pages of a damaged database file, for what
// SQLite itself can no longer reach. Internal to the store.
#pragma once

#include <QHash>
#include <QString>

struct sqlite3;

namespace velmor::store {

// Reads every table page of the file at `damagedPath` (read-only, never
// changed) the way SQLite lays them out, without trusting the file header or
// the inner pages of a table: the page size is taken from the header, or
// found from the pages when the header is damaged; each row is put in its
// table by the tree that reaches its page, or, when no tree does, by its
// shape (the number and kinds of its values fit one table only). The rows go
// into the tables of the same names in `target` (INSERT OR IGNORE, so rows
// already there are skipped); a row whose value runs on into a damaged or
// missing page is left out. Adds to `owners`, for every identity owning a
// row copied, the number of its messages copied.
//
// The work is linear in the file's size whatever its pages say: no value
// is longer than the file's pages could hold, an overflow chain is followed
// only when it ends where its value does (never round a loop), no page
// belongs to two values' chains, no byte of a page to two cells, and no
// page to two tables' trees. Returns the bytes it read from the file and
// copied out of its pages, a few times the file's size at most.
qint64 scanPages(const QString &damagedPath, sqlite3 *target, QHash<QString, int> *owners);

} // namespace velmor::store
