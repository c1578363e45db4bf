// The database layout and its migration. Internal to the store.
#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace velmor::store {

// Bumped whenever the layout below changes; written to PRAGMA user_version.
constexpr int kSchemaVersion = 2;

struct ColumnDef
{
    const char *name;
    const char *decl;   // type, NOT NULL and DEFAULT, as in CREATE TABLE
};

struct IndexDef
{
    const char *name;
    const char *columns;
};

struct TableDef
{
    const char *name;
    QList<ColumnDef> columns;
    QStringList primaryKey;
    QList<IndexDef> indexes;
};

const QList<TableDef> &tables();

// Brings the file to the current layout inside one transaction: creates
// missing tables, adds missing columns with their defaults, rebuilds a
// table whose primary key is not the current one (copying every row; rows of
// a table that had no owner column go to `ownerKey`), creates the indexes
// and records kSchemaVersion. A file written by a newer build keeps its
// higher version. False leaves the file unchanged.
bool migrate(QSqlDatabase &db, const QString &ownerKey, QString *error = nullptr);

} // namespace velmor::store
