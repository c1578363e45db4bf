// Rows read back from a damaged database kept aside. Internal to the store.
#pragma once

#include <QHash>
#include <QString>

struct sqlite3;

namespace velmor::store {

// Copies every row that can still be read from the database file at
// `damagedPath` (opened read-only, never changed) into the tables of the
// same names in `target`, column by column where both have the column;
// rows the target already holds, or that break its rules, are skipped. A
// table read that stops at a damaged page goes on past it. Returns, for
// every identity that owns a readable row, the number of its messages
// copied (0 when only other rows of it were readable).
QHash<QString, int> salvageRows(const QString &damagedPath, sqlite3 *target);

// After the rows were read back: a direct or normal-group conversation whose
// own row was lost while messages of it came back is made again from its
// newest message, listed as any other (else it showed only once news came).
void listReadBackConversations(sqlite3 *target);

} // namespace velmor::store
