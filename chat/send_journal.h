// Sends the store refused, kept where its refusal does not reach: a small
// append-only file beside the store ("unsent-sends.journal"), its room
// reserved ahead of need, so that a full disk or another program holding
// the store loses no message that was shown or whose text left the composer.
//
// Each record is one send as it was shown (its row, and a one-to-one send's
// signed envelope) under its owner's key, checked by a digest: a record cut
// short by a kill ends the file there. The file is written and synced on a
// worker, never on the window's thread. At the next sign-in (and once the
// store takes writes again) the owner's records the store does not know are
// written into it, in one transaction, and posted like any interrupted send;
// a message deleted meanwhile is not brought back (the store remembers its
// id). The file is emptied once nothing in it is left unwritten.
#pragma once

#include "store/records.h"

#include <QList>
#include <QString>

#include <optional>

class ChatStore;

namespace velmor::chat {

struct JournaledSend
{
    QString owner;
    MessageRecord row;
    // Empty for a send that failed to seal (and in records of older builds,
    // for group sends). A normal group's is the body of its fan-out.
    QString envelope;
    // An answer the relay gave to a send kept earlier in the file: only the
    // row's id and its final status count.
    bool answer = false;
};

class SendJournal
{
public:
    // Reserved at sign-in; the file grows ahead of need, to twice what its
    // records use, whenever less than half this is left beyond them.
    static constexpr qint64 kReservedBytes = 1024 * 1024;

    // The journal beside the store file at `databasePath`; empty for an empty path.
    static QString pathBeside(const QString &databasePath);
    // Makes the file (owner-only) and reserves its room. False when it
    // could not.
    static bool reserve(const QString &path);
    // Appends the sends and syncs them to the disk: true once they are
    // there, false when they could not all be kept (nothing of them counts).
    static bool append(const QString &path, const QList<JournaledSend> &sends);
    // Room for records of `bytes` more, taken from the disk now (grown ahead
    // while the disk has space): a send is shown only once the store or the
    // journal holds it, and one that may need the journal asks for its room
    // before that. False when they would not fit.
    static bool reserveFor(const QString &path, qint64 bytes);
    // No less than the bytes the send's record takes.
    static qint64 sizeOf(const JournaledSend &send);
    // Every whole record, oldest first.
    static QList<JournaledSend> read(const QString &path);
    // Writes `owner`'s records that `store` (open for `owner`) does not know
    // yet, in one transaction, then empties the file when no other owner's
    // record is in it. The rows written, with the status of the answer kept
    // for each (a send answered is not posted again; without an answer nor
    // an envelope, one that was still sending is written failed: nothing
    // can post it again); nullopt when the store refused them (the file
    // keeps them).
    static std::optional<QList<MessageRecord>> replay(const QString &path, const QString &owner, ChatStore &store);
};

} // namespace velmor::chat
