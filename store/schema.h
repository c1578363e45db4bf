// The database layout and its migration. Internal to the store.
#pragma once

#include <QSqlDatabase>
#include <QString>

namespace velmor::store {

// Bumped whenever the layout in schema.cpp changes, or when rows that
// earlier builds wrote are mended (once, when an older file is opened);
// written to PRAGMA user_version.
constexpr int kSchemaVersion = 10;

// Brings the file to the current layout inside one write transaction, taken
// at once (BEGIN IMMEDIATE) and always writing, so that a file that cannot be
// written fails here: creates
// missing tables, adds missing columns with their defaults, rebuilds a
// table whose primary key is not the current one (copying every row; rows of
// a table that had no owner column go to `ownerKey`), creates the indexes,
// mends the rows that earlier builds wrote wrong (once, by the file's
// version) and records kSchemaVersion. A file written by a newer build (a higher
// version) is refused. False leaves the file unchanged.
bool migrate(QSqlDatabase &db, const QString &ownerKey, QString *error = nullptr);

// The oldest layout whose tables are the current one's: layout 10 only
// mended rows that earlier builds wrote (see migrate()). A file in it can be
// read as it is; it is brought forward at the first open that can write.
constexpr int kOldestReadableLayout = 9;

// The file was brought to a layout whose tables are the current ones (or a
// newer one) before: it can be used without migrating, for reading when it
// cannot be written (a full disk).
bool hasCurrentLayout(QSqlDatabase &db);

} // namespace velmor::store
