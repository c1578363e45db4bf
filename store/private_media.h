// Decrypted media on their way in or out (a pasted picture, a recording, a
// copy of a clip or picture sent again) wait in a folder of the profile that
// only the user can enter, each file readable by the user alone, and are
// deleted once their message is stored: never in the shared temporary
// folder, where any user of the machine could read them.
#pragma once

#include <QDateTime>
#include <QString>

class QFile;

namespace velmor::store {

// "<application data>/media", made 0700 (and narrowed when wider); empty
// when it cannot be made or is a link or another user's.
QString privateMediaFolder();

// Creates (or empties) the file of that name in the folder as 0600,
// without following a link, and opens `file` on it for writing. The path,
// or empty when it could not be made.
QString openPrivateMedia(QFile &file, const QString &fileName);

// Creates the empty file of that name as openPrivateMedia does and closes
// it, for a writer that opens it by name. The path, or empty.
QString createPrivateMedia(const QString &fileName);

// True when the path names a file directly inside the folder: one of ours,
// to delete once used. A file the user chose elsewhere is never deleted.
bool isPrivateMedia(const QString &path);

// Deletes the file when isPrivateMedia(path).
void removePrivateMedia(const QString &path);

// Deletes what an earlier run left (a crash, a send cut off by the end of
// the program): the folder's files last changed before `startedAt`, and the
// drafts, recordings and retry copies that earlier versions wrote into the
// shared temporary folder, when they are the user's own. Blocking file
// work: call it off the GUI thread.
void removeMediaLeftovers(const QDateTime &startedAt);

} // namespace velmor::store
