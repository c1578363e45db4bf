// Secret storage: a private per-user vault folder under the application-data
// folder, one owner-only file per entry (0600 files in a 0700 folder),
// replaced atomically. Stands in for the platform credential store.
//
// Only what this user's own writes could have left is believed: the folder
// must be a folder (not a link) of this user; an entry must be a regular
// file of this user with one link, at most 16 MiB and whose digest matches,
// or it reads as absent (a warning in the "velmor.vault" log). Temporary
// files of interrupted writes are removed.
//
// An entry file of this user that no longer reads (damaged, cut short) is
// never deleted nor written over: a write or remove of its name first moves
// it aside to "<file>.damaged-<time>" in the same folder, where it can still
// be mended by hand.
#pragma once

#include <QByteArray>
#include <QString>

namespace velmor::identity {

class CredentialVault
{
public:
    enum class EntryState {
        Absent,   // no file under the name
        Readable, // read whole (possibly an empty value)
        Damaged,  // something is there that does not read as an entry
    };

    static QByteArray read(const QString &name);                      // empty when absent
    static QByteArray read(const QString &name, EntryState *state);   // empty unless Readable
    static bool write(const QString &name, const QByteArray &blob);   // create or replace
    static bool remove(const QString &name);                          // true only when it existed
    // Moves the entry's file aside, whole, to "<file>.kept-<time>" in the
    // same folder, where it stays (never read as an entry, never removed);
    // the kept file's path, empty when there was nothing to move.
    static QString setAside(const QString &name);
    static QString folder();                                          // where the entries live
};

} // namespace velmor::identity

using velmor::identity::CredentialVault;
