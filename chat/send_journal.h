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
// id). What is in the store leaves the file: its bytes are zeroed, and once
// nothing is left to write the file is cut back to its reserve. The file
// obeys the store's rules for its files (no link, nobody else's, owner-only);
// a damaged record costs only itself: the reader finds the next one and
// says how many it passed over.
#pragma once

#include "store/records.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include <functional>
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
    // A typed text accepted and not sealed yet (its composer shows it
    // waiting): kept so that a kill meanwhile loses nothing; the next start
    // seals and sends it under its own id.
    bool waiting = false;
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
    // Every whole record, oldest first; *lost (when given) counts the
    // damaged records passed over to reach the later ones.
    static QList<JournaledSend> read(const QString &path, int *lost = nullptr);

    struct ReplayFilter
    {
        // Sends the session holds itself (it writes them): left in the file.
        // Asked for each record once the file is read, with the file's
        // lock held: a send made while the reading was on its way counts.
        std::function<bool(const QString &id)> held;
        // Asked inside the write: the send's conversation was deleted, the
        // send is dropped (and leaves the file).
        std::function<bool(const MessageRecord &)> dropped;
    };
    struct Replayed
    {
        QList<MessageRecord> rows;     // written now
        QList<JournaledSend> waiting;  // texts never sealed: left in the file, to be sent
        int lost = 0;                  // damaged records that could not be read
        // Stored sends whose answer came only after their session ended,
        // with the status written now.
        QList<QPair<QString, MessageStatus>> answered;
    };
    // Writes `owner`'s records that `store` (open for `owner`) does not know
    // yet, in one transaction; what is in the store then (or dropped) leaves
    // the file: its record is zeroed, and once nothing is left to write the
    // file is zeroed and cut back to its reserve. Another owner's records
    // wait for that owner's next sign-in. The rows written, with the status
    // of the answer kept for each (a send answered is not posted again;
    // without an answer nor an envelope, one that was still sending is
    // written failed: nothing can post it again); nullopt when the store
    // refused them (the file keeps them).
    static std::optional<Replayed> replay(const QString &path, const QString &owner, ChatStore &store,
                                          const ReplayFilter &filter = {});
    // `owner`'s records of these sends leave the file (they are in the
    // store, or their conversation was deleted). False when the file could
    // not be written.
    static bool forget(const QString &path, const QString &owner, const QSet<QString> &ids,
                       bool waitingOnly = false);
    // On the journal's own thread, in the order asked for, ahead of whatever
    // the shared pool is busy with (a typed text is kept within a sync).
    static void appendSoon(const QString &path, const QList<JournaledSend> &sends);
    // `then` runs on that thread once the records are gone (or could not be).
    static void forgetSoon(const QString &path, const QString &owner, const QSet<QString> &ids,
                           bool waitingOnly = false, std::function<void()> then = {});
    // At exit: waits up to `msecs` for what was given to the journal's
    // thread; true when all of it ran.
    static bool finishQueued(int msecs);
};

} // namespace velmor::chat
