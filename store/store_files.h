// The store's files on disk: the private data folder, owner-only modes for
// the database and its journals, and a damaged file kept aside. Internal to
// the store.
#pragma once

#include <QString>

namespace velmor::store {

// Creates the folder and its missing parents as 0700, and narrows the
// folder itself to 0700 when it is wider (it holds decrypted messages).
// False when it cannot be made.
bool makePrivateFolder(const QString &dir);

// Creates the database file as 0600 when missing (SQLite gives its journals
// the mode of the database file), and narrows the file, its write-ahead
// log and its shared-memory file to 0600 when they exist.
bool makePrivateFiles(const QString &databasePath);

// The first of the database's folder, the database and its journals that
// is a symbolic link or belongs to another user, or the first folder or
// link above the folder that another user owns (or that everyone, or a
// group with members besides the user, may write without the sticky bit);
// empty when none is. Such a store is not the
// user's own: messages written there would land in a file someone else
// controls (or reads). A link above the folder made by the user or the
// system (a home on a linked mount, a data folder moved to another disk)
// is the user's own choice, and followed.
QString foreignStorePath(const QString &databasePath);

// The name SQLite is given for the database: a URI that opens it through a
// file system layer refusing symbolic links, with the folders above the
// database's own folder resolved first (a home reached through a link of
// the user's or the system's is still the user's; foreignStorePath() has
// refused any other).
QString sqliteOpenName(const QString &databasePath);

// The file exists but holds nothing, with no write-ahead log content either,
// and was not just made by another opener: a store cut to nothing, not a
// new one.
bool isCutToNothing(const QString &databasePath);

// Renames the database and its journals to "<name>.damaged-<time>[-wal|-shm]"
// beside it, never over an existing file; the new file name, or empty when
// the file could not be moved.
QString setAside(const QString &databasePath);

// Less room left beside the database than its write-ahead log could need
// to be copied into it, and a margin: a checkpoint may wait.
bool spaceIsShort(const QString &databasePath);

} // namespace velmor::store
