#include "chat/message_list.h"

#include "chat/message_pictures.h"
#include "chat/payloads.h"
#include "chat/peer_keys.h"

#include <QSet>

#include <algorithm>

namespace velmor::chat {

namespace {

int statusValue(MessageStatus status)
{
    const int value = int(status);
    return value >= int(MessageStatus::Sending) && value <= int(MessageStatus::Received) ? value : 0;
}

// Whether the attachment of a map built from `a` (kept without it) is the
// attachment of `b` too. A received message's content digest names its
// content, attachment included: a page of pictures is compared without
// reading through them. A message of this device has none; its hash stands
// for it.
bool sameAttachment(const MessageRecord &a, size_t attachmentHash, qsizetype attachmentSize, const MessageRecord &b)
{
    if (attachmentSize != b.attachment.size() || a.content_digest != b.content_digest)
        return false;
    return !a.content_digest.isEmpty() || attachmentHash == qHash(b.attachment);
}

// Whether a map built from `a` (kept without its attachment) is the map of
// `b` too.
bool sameShown(const MessageRecord &a, size_t attachmentHash, qsizetype attachmentSize, const MessageRecord &b)
{
    return a.created_at == b.created_at && a.status == b.status && a.is_outgoing == b.is_outgoing
        && a.text == b.text && sameAttachment(a, attachmentHash, attachmentSize, b)
        && a.content_type == b.content_type
        && a.sender_display_name == b.sender_display_name && a.sender_address == b.sender_address
        && a.sender_avatar_kind == b.sender_avatar_kind && a.sender_avatar_id == b.sender_avatar_id
        && a.system_event_type == b.system_event_type;
}

} // namespace

MessageList::MessageList(JobRunner &jobs)
    : m_jobs(jobs)
{
    m_frame.setSingleShot(true);
    m_frame.setInterval(kFrameMs);
    QObject::connect(&m_frame, &QTimer::timeout, [this] {
        if (m_held.isEmpty())
            return;
        insertHeldRows();
        // Rows that keep coming keep going in once a frame.
        m_frame.start();
        if (m_lateRowsShown)
            m_lateRowsShown();
    });
    m_switchTimer.setSingleShot(true);
    m_switchTimer.setInterval(kShowWithinMs);
    QObject::connect(&m_switchTimer, &QTimer::timeout, [this] {
        if (m_switching)
            endSwitch(storedMeanwhile());
    });
}

void MessageList::insertHeldRows()
{
    if (m_held.isEmpty())
        return;
    m_model.insert(m_model.count(), std::exchange(m_held, {}));
    m_heldIds.clear();
}

MessageList::~MessageList()
{
    forgetAll();
}

QVariantList MessageList::rows() const
{
    QVariantList out;
    if (m_switching) {
        for (const QVariantMap &map : storedMeanwhile())
            out.append(map);
        return out;
    }
    out.reserve(m_model.count());
    for (int i = 0; i < m_model.count(); ++i)
        out.append(m_model.at(i));
    for (const QVariantMap &map : m_held)
        out.append(map);
    return out;
}

void MessageList::clear()
{
    forgetLoaded();
    m_model.clear();
}

void MessageList::forgetLoaded()
{
    m_held.clear();
    m_heldIds.clear();
    m_frame.stop();
    m_switching = false;
    m_switchTimer.stop();
    forgetAll();
    ++m_generation;
    m_readingOlder = false;
    m_reloading = false;
    m_readingNewest = false;
    m_readAfterNewest = false;
    m_storedMeanwhile.clear();
    m_storedOrder.clear();
    m_removedMeanwhile.clear();
    m_statusMeanwhile.clear();
    m_peer.clear();
    m_conversationId.clear();
    m_superGroup = false;
    m_oldest.reset();
    m_hasOlder = false;
}

void MessageList::open(const QString &peer)
{
    forgetLoaded();
    m_peer = peer;
    m_superGroup = isSuperGroupPeer(peer);
    m_conversationId = peer.isEmpty() ? QString() : conversationIdForPeer(peer);
    if (m_conversationId.isEmpty()) {
        m_model.clear();
        return;
    }
    // The rows shown stay until the page replaces them: an emptied list
    // would be drawn in a frame of its own, before the page is read.
    m_switching = true;
    m_switchTimer.start();
    startNewestRead();
}

QList<QVariantMap> MessageList::storedMeanwhile() const
{
    QList<QVariantMap> maps;
    for (const QString &id : m_storedOrder) {
        const auto it = m_built.constFind(id);
        if (it == m_built.cend() || !m_storedMeanwhile.contains(id))
            continue;
        const qint64 ts = it->map.value(QStringLiteral("ts")).toLongLong();
        // Later arrivals of the same time after the earlier ones.
        auto at = std::upper_bound(maps.begin(), maps.end(), ts, [](qint64 t, const QVariantMap &row) {
            return t < row.value(QStringLiteral("ts")).toLongLong();
        });
        maps.insert(at, it->map);
    }
    return maps;
}

void MessageList::endSwitch(const QList<QVariantMap> &maps)
{
    m_switching = false;
    m_switchTimer.stop();
    if (m_shown)
        m_shown();
    m_model.reset(maps);
}

void MessageList::startNewestRead()
{
    m_readingNewest = true;
    m_readAfterNewest = false;
    m_storedMeanwhile.clear();
    m_storedOrder.clear();
    m_removedMeanwhile.clear();
    m_statusMeanwhile.clear();
    const quint64 generation = m_generation;
    m_jobs.run<OlderPage>(
        [conversation = m_conversationId, superGroup = m_superGroup] {
            return readPage(conversation, std::nullopt, superGroup);
        },
        [this, generation](OlderPage page) { showNewestPage(generation, std::move(page)); },
        [this, generation] {
            if (generation != m_generation)
                return;
            m_readingNewest = false;
            // A page dropped (the session ended): what is known is shown.
            if (m_switching)
                QTimer::singleShot(0, &m_switchTimer, [this, generation] {
                    if (generation == m_generation && m_switching)
                        endSwitch(storedMeanwhile());
                });
        });
}

void MessageList::showNewestPage(quint64 generation, OlderPage page)
{
    if (generation != m_generation)
        return; // read for a list opened on another conversation, or cleared
    const bool readAgain = std::exchange(m_readAfterNewest, false);
    const QList<QVariantMap> meanwhile = storedMeanwhile();
    m_storedOrder.clear();
    const QSet<QString> stored = std::exchange(m_storedMeanwhile, {});
    const QSet<QString> removed = std::exchange(m_removedMeanwhile, {});
    const QHash<QString, MessageStatus> statuses = std::exchange(m_statusMeanwhile, {});
    if (!page.ok) {
        // What is shown stays; the next reload reads the page again. Not
        // the previous conversation's rows.
        if (m_switching)
            endSwitch(meanwhile);
        if (m_reloaded)
            m_reloaded();
        return;
    }
    insertHeldRows();
    const bool full = page.rows.size() == kPageSize;
    QList<QVariantMap> maps;
    maps.reserve(page.rows.size() + stored.size());
    QSet<QString> listed;
    listed.reserve(page.rows.size() + stored.size());
    for (PageRow &row : page.rows) {
        const QString id = row.built.record.id;
        if (removed.contains(id))
            continue;
        listed.insert(id);
        const auto shown = m_built.find(id);
        if (stored.contains(id) && shown != m_built.end()) {
            // Stored again since the page was read: as the call left it.
            shown->place = row.built.place;
            maps.append(shown->map);
            continue;
        }
        if (const auto status = statuses.constFind(id); status != statuses.cend()) {
            row.built.record.status = *status;
            row.built.map.insert(QStringLiteral("status"), statusValue(*status));
        }
        maps.append(adopt(row));
    }
    if (!page.rows.isEmpty())
        m_oldest = page.rows.first().built.place;
    m_hasOlder = full;
    // Messages stored while the page was read that it does not hold go in
    // by their time; those older than a full page come back with the older
    // pages instead (a message still counted as shown would be skipped
    // there). Any other row not on the page is gone from the store.
    const qint64 oldestShown = m_oldest ? m_oldest->createdAt : 0;
    for (const QVariantMap &map : meanwhile) {
        const QString id = map.value(QStringLiteral("id")).toString();
        const qint64 ts = map.value(QStringLiteral("ts")).toLongLong();
        if (listed.contains(id) || (full && ts < oldestShown))
            continue;
        listed.insert(id);
        auto at = std::upper_bound(maps.begin(), maps.end(), ts, [](qint64 t, const QVariantMap &row) {
            return t < row.value(QStringLiteral("ts")).toLongLong();
        });
        maps.insert(at, map);
    }
    QStringList gone;
    for (auto it = m_built.cbegin(); it != m_built.cend(); ++it) {
        if (!listed.contains(it.key()))
            gone.append(it.key());
    }
    for (const QString &id : std::as_const(gone))
        forget(id);
    // One reset: the view lays out only the end it shows.
    if (m_switching)
        endSwitch(maps);
    else if (m_model.count() == 0)
        m_model.reset(maps);
    else
        m_model.sync(maps);
    if (readAgain) {
        // A pull stored messages while it read.
        if (m_oldest)
            startReload();
        else
            startNewestRead();
    }
    if (m_reloaded)
        m_reloaded();
}

const QVariantMap &MessageList::adopt(PageRow &row)
{
    const QString id = row.built.record.id;
    const auto it = m_built.find(id);
    const bool heldBefore = it != m_built.end() && it->holdsPicture;
    const QString heldIn = heldBefore ? it->record.conversation_id : QString();
    Built &entry = m_built[id];
    entry = std::move(row.built);
    holdPicture(entry, row.picture);
    // After the new hold: a picture that did not change keeps its address.
    if (heldBefore)
        MessagePictures::instance().release(heldIn, id);
    return entry.map;
}

void MessageList::reload()
{
    insertHeldRows();
    if (m_conversationId.isEmpty()) {
        m_model.clear();
        return;
    }
    // A pull stored these messages, older ones among them perhaps.
    olderChanged();
    if (m_readingNewest) {
        m_readAfterNewest = true;
        return;
    }
    if (!m_oldest) {
        startNewestRead();
        return;
    }
    if (m_reloading) {
        m_reloadAgain = true;
        return;
    }
    startReload();
}

void MessageList::startReload()
{
    m_reloading = true;
    m_reloadAgain = false;
    const quint64 generation = m_generation;
    m_jobs.run<OlderPage>(
        [conversation = m_conversationId, from = *m_oldest, shown = m_built, superGroup = m_superGroup] {
            return readFrom(conversation, from, shown, superGroup);
        },
        [this, generation](OlderPage reading) { showReload(generation, std::move(reading)); },
        [this, generation] {
            if (generation == m_generation)
                m_reloading = false;
        });
}

MessageList::OlderPage MessageList::readFrom(const QString &conversationId, const ChatStore::MessagePlace &from,
                                             const QHash<QString, Built> &shown, bool inSuperGroup)
{
    OlderPage reading;
    reading.ok = true;
    QList<ChatStore::MessagePlace> places;
    const QList<MessageRecord> records =
        ChatStore::instance().shownMessagesFrom(conversationId, from, &places, &reading.ok);
    reading.rows.reserve(records.size());
    for (int i = 0; i < records.size(); ++i) {
        const MessageRecord &record = records.at(i);
        PageRow row;
        const auto it = shown.constFind(record.id);
        row.unchanged = it != shown.cend() && !it->map.isEmpty()
                        && sameShown(it->record, it->attachmentHash, it->attachmentSize, record);
        if (row.unchanged)
            row.built.record.id = record.id;
        else
            row.built = build(record, inSuperGroup, &row.picture);
        row.built.place = places.value(i);
        reading.rows.append(std::move(row));
    }
    return reading;
}

void MessageList::showReload(quint64 generation, OlderPage reading)
{
    if (generation != m_generation)
        return;
    if (std::exchange(m_reloadAgain, false)) {
        // Rows changed while it read, or it was asked again: the reading
        // may be older than what is shown.
        startReload();
        return;
    }
    if (!reading.ok)
        return; // a failed read shows what was shown, not an empty list
    insertHeldRows();
    QList<QVariantMap> maps;
    maps.reserve(reading.rows.size());
    QSet<QString> listed;
    listed.reserve(reading.rows.size());
    for (PageRow &row : reading.rows) {
        const QString id = row.built.record.id;
        listed.insert(id);
        const auto it = m_built.find(id);
        if (row.unchanged) {
            if (it != m_built.end()) {
                it->place = row.built.place;
                maps.append(it->map);
            }
            continue;
        }
        maps.append(adopt(row));
    }
    QStringList gone;
    for (auto it = m_built.cbegin(); it != m_built.cend(); ++it) {
        if (!listed.contains(it.key()))
            gone.append(it.key());
    }
    for (const QString &id : std::as_const(gone))
        forget(id);
    m_model.sync(maps);
    if (m_reloaded)
        m_reloaded();
}

void MessageList::shownChanged()
{
    if (m_reloading)
        m_reloadAgain = true;
}

bool MessageList::loadOlder()
{
    if (m_readingOlder)
        return true;
    if (!m_hasOlder || !m_oldest)
        return false;
    startOlderRead();
    return true;
}

void MessageList::startOlderRead()
{
    m_readingOlder = true;
    m_olderChangedWhileReading = false;
    const quint64 generation = m_generation;
    m_jobs.run<OlderPage>(
        [conversation = m_conversationId, before = *m_oldest, superGroup = m_superGroup] {
            return readPage(conversation, before, superGroup);
        },
        [this, generation](OlderPage page) { showOlderPage(generation, std::move(page)); },
        [this, generation] {
            if (generation == m_generation)
                m_readingOlder = false;
        });
}

MessageList::OlderPage MessageList::readPage(const QString &conversationId,
                                             const std::optional<ChatStore::MessagePlace> &before, bool inSuperGroup)
{
    OlderPage page;
    page.ok = true;
    QList<ChatStore::MessagePlace> places;
    const QList<MessageRecord> records =
        ChatStore::instance().shownMessagesBefore(conversationId, before, kPageSize, &places, &page.ok);
    page.rows.reserve(records.size());
    for (int i = 0; i < records.size(); ++i) {
        PageRow row;
        row.built = build(records.at(i), inSuperGroup, &row.picture);
        row.built.place = places.value(i);
        page.rows.append(std::move(row));
    }
    return page;
}

void MessageList::showOlderPage(quint64 generation, OlderPage page)
{
    if (generation != m_generation || !page.ok)
        return; // another list's page; or a failed read, which the next step up tries again
    if (std::exchange(m_olderChangedWhileReading, false)) {
        // The page may lack a message stored meanwhile, or hold one deleted.
        startOlderRead();
        return;
    }
    insertHeldRows();
    m_hasOlder = page.rows.size() == kPageSize;
    if (page.rows.isEmpty())
        return;
    m_oldest = page.rows.first().built.place;
    QList<QVariantMap> maps;
    maps.reserve(page.rows.size());
    for (PageRow &row : page.rows) {
        const QString id = row.built.record.id;
        // A message shown already (stored meanwhile at an old time) stays
        // where it is.
        if (m_built.contains(id))
            continue;
        Built &entry = m_built[id];
        entry = std::move(row.built);
        holdPicture(entry, row.picture);
        maps.append(entry.map);
    }
    if (maps.isEmpty())
        return;
    shownChanged();
    m_model.insert(0, maps);
    if (m_lateRowsShown)
        m_lateRowsShown();
}

void MessageList::olderChanged()
{
    if (m_readingOlder)
        m_olderChangedWhileReading = true;
}

bool MessageList::trimOlder(int keep)
{
    if (m_readingNewest)
        return false; // only rows stored meanwhile are shown, no page yet
    insertHeldRows();
    const int first = m_model.count() - qMax(1, keep);
    if (first <= 0)
        return false;
    const QString id = m_model.keyAt(first);
    const auto built = m_built.constFind(id);
    // A row that came by upsert has no place read: its time stands for it
    // (the rows of that second are read again, which changes nothing).
    m_oldest = built != m_built.cend() && built->place
                   ? *built->place
                   : ChatStore::MessagePlace{ m_model.at(first).value(QStringLiteral("ts")).toLongLong(), 0 };
    m_hasOlder = true;
    // A page being read would land above the rows let go, and a reload
    // would bring them back: a reload reads again from the new oldest row.
    ++m_generation;
    m_readingOlder = false;
    const bool reloading = std::exchange(m_reloading, false);
    for (int i = 0; i < first; ++i)
        forget(m_model.keyAt(i));
    m_model.remove(0, first);
    if (reloading)
        startReload();
    return true;
}

bool MessageList::upsert(const MessageRecord &record)
{
    if (m_conversationId.isEmpty() || record.id.isEmpty() || record.conversation_id != m_conversationId)
        return false;
    if (m_readingNewest) {
        if (!m_storedMeanwhile.contains(record.id)) {
            m_storedMeanwhile.insert(record.id);
            m_storedOrder.append(record.id);
        }
        m_removedMeanwhile.remove(record.id);
    }
    if (m_switching) {
        // Shown with the page: the model still holds another conversation.
        const QVariantMap before = m_built.value(record.id).map;
        return mapFor(record) != before;
    }
    if (m_heldIds.contains(record.id))
        insertHeldRows();
    const int at = m_model.indexOf(record.id);
    if (at >= 0 || !m_hasOlder || !m_oldest || record.created_at >= m_oldest->createdAt)
        shownChanged();
    if (at >= 0) {
        const QVariantMap before = m_model.at(at);
        m_model.replace(at, mapFor(record));
        return m_model.at(at) != before;
    }
    if (m_hasOlder && m_oldest && record.created_at < m_oldest->createdAt) {
        olderChanged();
        return false;
    }
    const auto heldTs = [this] { return m_held.last().value(QStringLiteral("ts")).toLongLong(); };
    if (m_model.placeFor(record.created_at) == m_model.count()
        && (m_held.isEmpty() || heldTs() <= record.created_at)) {
        // The newest message: at once, or with the others of this frame.
        if (m_frame.isActive()) {
            m_held.append(mapFor(record));
            m_heldIds.insert(record.id);
            return true;
        }
        m_model.insert(m_model.count(), mapFor(record));
        m_frame.start();
        return true;
    }
    insertHeldRows();
    m_model.insert(m_model.placeFor(record.created_at), mapFor(record));
    return true;
}

bool MessageList::setStatus(const QString &messageId, MessageStatus status)
{
    if (m_readingNewest)
        m_statusMeanwhile.insert(messageId, status);
    if (m_switching) {
        const auto built = m_built.find(messageId);
        if (built == m_built.end() || built->record.status == status)
            return false;
        built->record.status = status;
        built->map.insert(QStringLiteral("status"), statusValue(status));
        return true;
    }
    if (m_heldIds.contains(messageId))
        insertHeldRows();
    const int at = m_model.indexOf(messageId);
    const auto built = m_built.find(messageId);
    if (at < 0)
        olderChanged(); // perhaps of a message in the page being read
    if (at < 0 || built == m_built.end() || built->record.status == status)
        return false;
    shownChanged();
    built->record.status = status;
    built->map.insert(QStringLiteral("status"), statusValue(status));
    m_model.replace(at, built->map);
    return true;
}

bool MessageList::remove(const QString &messageId)
{
    if (m_readingNewest) {
        m_removedMeanwhile.insert(messageId);
        m_storedMeanwhile.remove(messageId);
        m_statusMeanwhile.remove(messageId);
    }
    if (m_switching) {
        const bool known = m_built.contains(messageId);
        forget(messageId);
        return known;
    }
    insertHeldRows();
    const int at = m_model.indexOf(messageId);
    if (at < 0) {
        olderChanged();
        return false;
    }
    shownChanged();
    m_model.remove(at);
    forget(messageId);
    return true;
}

const QVariantMap &MessageList::mapFor(const MessageRecord &record,
                                      const std::optional<ChatStore::MessagePlace> &place)
{
    Built &entry = m_built[record.id];
    if (entry.map.isEmpty() || !sameShown(entry.record, entry.attachmentHash, entry.attachmentSize, record)) {
        const bool heldBefore = entry.holdsPicture;
        const QString heldIn = entry.record.conversation_id;
        QByteArray picture;
        Built rebuilt = build(record, m_superGroup, &picture);
        rebuilt.place = entry.place;
        entry = std::move(rebuilt);
        holdPicture(entry, picture);
        // After the new hold: a picture that did not change keeps its address.
        if (heldBefore)
            MessagePictures::instance().release(heldIn, record.id);
    }
    if (place)
        entry.place = place;
    return entry.map;
}

MessageList::Built MessageList::build(const MessageRecord &record, bool inSuperGroup, QByteArray *picture)
{
    Built entry;
    entry.record = record;
    entry.record.attachment.clear();
    entry.attachmentHash = record.content_digest.isEmpty() ? qHash(record.attachment) : 0;
    entry.attachmentSize = record.attachment.size();
    entry.map = messageMap(record, inSuperGroup, picture);
    return entry;
}

void MessageList::holdPicture(Built &entry, const QByteArray &picture)
{
    entry.holdsPicture = !picture.isEmpty();
    if (entry.holdsPicture)
        entry.map.insert(QStringLiteral("imageSrc"),
                         MessagePictures::instance().hold(entry.record.conversation_id, entry.record.id, picture));
}

void MessageList::forget(const QString &messageId)
{
    const auto it = m_built.constFind(messageId);
    if (it == m_built.cend())
        return;
    if (it->holdsPicture)
        MessagePictures::instance().release(it->record.conversation_id, messageId);
    m_built.erase(it);
}

void MessageList::forgetAll()
{
    for (auto it = m_built.cbegin(); it != m_built.cend(); ++it) {
        if (it->holdsPicture)
            MessagePictures::instance().release(it->record.conversation_id, it.key());
    }
    m_built.clear();
}


QVariantMap MessageList::messageMap(const MessageRecord &record, bool inSuperGroup, QByteArray *picture)
{
    QVariantMap map;
    map.insert(QStringLiteral("id"), record.id);
    map.insert(QStringLiteral("text"), record.text);
    map.insert(QStringLiteral("outgoing"), record.is_outgoing);
    map.insert(QStringLiteral("ts"), record.created_at);
    map.insert(QStringLiteral("kind"), record.content_type.isEmpty() ? QStringLiteral("text") : record.content_type);
    payload::applyTextPayload(record.text, map);
    if (inSuperGroup) {
        const QString shown = map.value(QStringLiteral("text")).toString();
        const QString systemMarker = QString::fromLatin1(payload::kSuperGroupSystemMarker);
        if (shown.startsWith(systemMarker)) {
            map.insert(QStringLiteral("kind"), QStringLiteral("system"));
            map.insert(QStringLiteral("text"), shown.mid(systemMarker.size()));
        } else if (shown.startsWith(QLatin1String(payload::kGroupInviteMarker))
                   || shown.startsWith(QLatin1String(payload::kGroupInviteMarkerShort))) {
            map.insert(QStringLiteral("kind"), QStringLiteral("system"));
        }
    }
    map.insert(QStringLiteral("senderAvatarKind"), record.sender_avatar_kind);
    map.insert(QStringLiteral("senderAvatarId"), record.sender_avatar_id);
    map.insert(QStringLiteral("senderName"), record.sender_display_name);
    map.insert(QStringLiteral("senderAddress"), record.sender_address);
    map.insert(QStringLiteral("systemEventType"), record.system_event_type);
    payload::appendMediaFields(record.attachment, map, picture);
    map.insert(QStringLiteral("status"), statusValue(record.status));
    return map;
}

} // namespace velmor::chat
