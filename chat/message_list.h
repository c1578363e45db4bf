// The messages of the open conversation as the views show them, in a
// MessageRowModel (one map per message, oldest first): the newest page when
// the conversation opens, older pages as the user scrolls up.
//
// A change costs the rows it touches, never the conversation's length: a
// part that stored, changed or deleted one message says so through
// ChatHost::messageStored / messageStatusChanged / messageRemoved, which
// land in upsert / setStatus / remove here. ChatHost::reloadMessages()
// (after a pull that stored many) reads again only the messages from the
// oldest one loaded on, on a worker, and redraws those that changed.
//
// New messages at the end go into the model at most once a frame: the
// first at once, those that follow within the frame together at its end
// (one insert, one move of the view to the end, for a burst of sends).
// rows() and every other change see them at once.
//
// Every page is read and decoded on a worker (one at a time): the GUI
// thread gets its rows ready, pictures apart. The newest page, read when
// the conversation opens, replaces what the list shows in one step; until
// then the model keeps the rows of the conversation shown before, so the
// views switch to the opened one in one frame (see setShown);
// messages stored, changed or deleted while it is read are kept as the
// calls since left them, so none is lost, doubled or brought back. An
// older page goes in at the top in one insert. A page read for a list that
// was opened on another conversation or trimmed meanwhile is dropped; an
// older page read while messages older than the loaded ones changed is
// read again.
#pragma once

#include "chat/job_runner.h"
#include "models/message_row_model.h"
#include "store/chat_store.h"
#include "store/records.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace velmor::chat {

class MessageList
{
public:
    // Messages read at the opening and at each step up: several screens
    // of rows, few enough to read and lay out at once.
    static constexpr int kPageSize = 60;
    // A frame: new rows at the end that come within it go in together.
    static constexpr int kFrameMs = 16;
    // How long an opened conversation's newest page may take before the
    // previous conversation's rows give way to an empty list.
    static constexpr int kShowWithinMs = 120;

    // Older pages are read through `jobs`.
    explicit MessageList(JobRunner &jobs);
    ~MessageList();
    MessageList(const MessageList &) = delete;
    MessageList &operator=(const MessageList &) = delete;

    models::MessageRowModel &model() { return m_model; }
    // Called when rows went into the model after the call that brought them
    // returned: those held for the end of a frame, an older page once read.
    void setLateRowsShown(std::function<void()> shown) { m_lateRowsShown = std::move(shown); }
    // The loaded messages' maps, oldest first.
    QVariantList rows() const;
    // The peer whose conversation is loaded ("" when none).
    QString peer() const { return m_peer; }
    bool hasOlder() const { return m_hasOlder; }

    void clear();
    // Starts reading the newest page of the peer's conversation, which
    // replaces the rows once read (an empty peer shows nothing at once);
    // `shown` is called right before it goes into the model, `reloaded`
    // when it is shown.
    void open(const QString &peer);
    // Called when the model is about to show the conversation last opened:
    // its newest page was read (or could not be), or it took longer than
    // kShowWithinMs. Until then the model holds the rows of the conversation
    // shown before, and what the calls do to the opened one is kept for the
    // page (rows() tells it).
    void setShown(std::function<void()> shown) { m_shown = std::move(shown); }
    // True while the model still holds the previous conversation's rows.
    bool switching() const { return m_switching; }
    // True while the newest page is being read.
    bool openingPage() const { return m_readingNewest; }
    // Reads the loaded messages again from the store, and any newer ones:
    // rows that changed are redrawn, new ones inserted, deleted ones removed.
    // Once pages are loaded the reading is done on a worker (one at a time,
    // and once more after it for calls and changes that came meanwhile),
    // and `reloaded` is called when its rows are shown.
    void reload();
    void setReloaded(std::function<void()> reloaded) { m_reloaded = std::move(reloaded); }
    // Starts reading the page before the oldest loaded message, which goes
    // in at the top once read. True while that page is being read (asking
    // again then starts nothing); false when there is none (the whole
    // conversation is loaded).
    bool loadOlder();
    // Keeps only the newest `keep` rows (the user is back at the end after
    // reading far up): later reloads read only those again, and the rest
    // comes back page by page. False when there were no more.
    bool trimOlder(int keep);

    // One message stored or changed (the record as stored, attachment
    // included). A message of another conversation, or older than the
    // loaded pages (it comes with its page), changes nothing. True when a
    // row was added or redrawn.
    bool upsert(const MessageRecord &record);
    bool setStatus(const QString &messageId, MessageStatus status);
    bool remove(const QString &messageId);

    // The map of one stored message; `inSuperGroup` turns the super-group
    // markers into system lines. With `picture`, an image message's bytes
    // go there and its "imageSrc" is left unset; else "imageSrc" holds them
    // as a data: URL.
    static QVariantMap messageMap(const MessageRecord &record, bool inSuperGroup, QByteArray *picture = nullptr);

private:
    // The map of each loaded message with the row it was built from, so a
    // message that did not change is not decoded again (payloads, images).
    struct Built
    {
        MessageRecord record;     // without its attachment, which can be large
        // What stands for the attachment when the message has no content
        // digest (a message of this device), with its size.
        size_t attachmentHash = 0;
        qsizetype attachmentSize = 0;
        bool holdsPicture = false; // in MessagePictures, under its conversation and id
        QVariantMap map;
        // Its place in the conversation, when it was read from the store.
        std::optional<ChatStore::MessagePlace> place;
    };

    // A row read on a worker, built with its picture apart; or, when it
    // shows as built already, only its id and place.
    struct PageRow
    {
        Built built;
        QByteArray picture;
        bool unchanged = false;
    };
    struct OlderPage
    {
        bool ok = false;
        QList<PageRow> rows; // oldest first
    };

    // The built map of a record (any thread); an image message's bytes go
    // to `picture`.
    static Built build(const MessageRecord &record, bool inSuperGroup, QByteArray *picture);
    // Reads and builds the `kPageSize` messages before `before`, or the
    // newest ones without it (any thread).
    static OlderPage readPage(const QString &conversationId, const std::optional<ChatStore::MessagePlace> &before,
                              bool inSuperGroup);
    // Reads every message from `from` on, building those that `shown` does
    // not show as they are (any thread).
    static OlderPage readFrom(const QString &conversationId, const ChatStore::MessagePlace &from,
                              const QHash<QString, Built> &shown, bool inSuperGroup);
    void startReload();
    void showReload(quint64 generation, OlderPage reading);
    // A row was added, redrawn or removed while a reload reads.
    void shownChanged();
    void startOlderRead();
    void showOlderPage(quint64 generation, OlderPage page);
    // Keeps the picture of a built row and puts its address in the map.
    static void holdPicture(Built &entry, const QByteArray &picture);
    // A message older than the loaded ones changed while a page is read.
    void olderChanged();

    const QVariantMap &mapFor(const MessageRecord &record,
                              const std::optional<ChatStore::MessagePlace> &place = std::nullopt);
    // Forgets the built map of a message, and lets go of its picture.
    void forget(const QString &messageId);
    void forgetAll();
    void startNewestRead();
    void showNewestPage(quint64 generation, OlderPage page);
    // Takes a row read on a worker as the built map of its message (a
    // picture that did not change keeps its address); its map.
    const QVariantMap &adopt(PageRow &row);
    // Puts the rows held for the end of the frame into the model.
    void insertHeldRows();
    // Forgets everything loaded, the model's rows apart.
    void forgetLoaded();
    // The maps of the messages stored since the opening, in time order.
    QList<QVariantMap> storedMeanwhile() const;
    // The model leaves the previous conversation's rows for `maps`, and the
    // views are told first.
    void endSwitch(const QList<QVariantMap> &maps);

    JobRunner &m_jobs;
    models::MessageRowModel m_model;
    QString m_peer;
    QString m_conversationId;
    bool m_superGroup = false;
    // The place of the oldest message read from the store; older pages
    // are read from it.
    std::optional<ChatStore::MessagePlace> m_oldest;
    bool m_hasOlder = false;
    // Counts the openings and trims: an older page is taken only by the
    // list it was read for.
    quint64 m_generation = 0;
    bool m_readingOlder = false;
    bool m_olderChangedWhileReading = false;
    bool m_reloading = false;
    bool m_reloadAgain = false;
    // While the newest page is read: what the calls since did to the
    // messages, which the page may predate, and whether to read on after it.
    bool m_readingNewest = false;
    bool m_readAfterNewest = false;
    QSet<QString> m_storedMeanwhile;
    QStringList m_storedOrder; // the same, as they came
    QSet<QString> m_removedMeanwhile;
    QHash<QString, MessageStatus> m_statusMeanwhile;
    std::function<void()> m_reloaded;
    QHash<QString, Built> m_built; // by message id, loaded messages only
    // New rows after the model's last, oldest first, held until the frame ends.
    QList<QVariantMap> m_held;
    QSet<QString> m_heldIds;
    QTimer m_frame;
    std::function<void()> m_lateRowsShown;
    bool m_switching = false;
    QTimer m_switchTimer;
    std::function<void()> m_shown;
};

} // namespace velmor::chat
