#include "chat/conversation_list.h"

#include "chat/payloads.h"
#include "chat/peer_keys.h"
#include "chat/supergroup_directory.h"
#include "identity/content.h"
#include "store/chat_store.h"

#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace velmor::chat {

namespace {

const QString kPeer = QStringLiteral("peer");
const QString kDisplay = QStringLiteral("display");
const QString kAddress = QStringLiteral("address");
const QString kLast = QStringLiteral("last");
// What "last" is: "text" for what the user or a peer wrote, shown as it
// is; otherwise a text of the system's own ("none", "image", "voice",
// "system" …), which the views show in the interface's language.
const QString kLastKind = QStringLiteral("lastKind");
// True when "display" is the system's own stand-in for a name ("群聊",
// "超级群", "未知地址"), false when it is a stored name.
const QString kDisplayFallback = QStringLiteral("displayFallback");
const QString kBlocked = QStringLiteral("blocked");
const QString kUnread = QStringLiteral("unread");
const QString kTs = QStringLiteral("ts");
const QString kMuted = QStringLiteral("muted");

QString foldWhiteSpace(const QString &text)
{
    // Most previews hold no run of white space and no line break: skip the
    // regular expression for them.
    bool plain = true;
    for (int i = 0; i < text.size() && plain; ++i) {
        const QChar c = text.at(i);
        if (c.isSpace() && (c != QLatin1Char(' ') || i == 0 || i + 1 == text.size()
                            || text.at(i + 1).isSpace()))
            plain = false;
    }
    if (plain)
        return text;
    static const QRegularExpression spaces(QStringLiteral("\\s+"));
    return QString(text).replace(spaces, QStringLiteral(" ")).trimmed();
}

// Whether a row built from `a` shows the same as one built from `b`.
bool sameShown(const ConversationRecord &a, const ConversationRecord &b)
{
    return a.last_timestamp == b.last_timestamp && a.unread_count == b.unread_count && a.muted == b.muted
        && a.conversation_type == b.conversation_type && a.last_message == b.last_message
        && a.last_message_type == b.last_message_type
        && a.peer_display_key == b.peer_display_key && a.peer_wallet_address == b.peer_wallet_address;
}

bool sameShown(const std::optional<ContactRecord> &a, const std::optional<ContactRecord> &b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a
        || (a->blocked == b->blocked && a->remark == b->remark && a->erc20_address == b->erc20_address
            && a->avatar_kind == b->avatar_kind && a->avatar_id == b->avatar_id);
}

} // namespace

QVariantMap ConversationList::conversationMap(const ConversationRecord &record,
                                              const std::optional<ContactRecord> &contact)
{
    const QString peer = record.peer_raw_public_key;
    const QString folded = foldWhiteSpace(record.last_message);
    QString kind = QStringLiteral("none");
    const QString preview = folded.isEmpty() ? QStringLiteral("暂无消息")
                                             : payload::lastMessagePreview(folded, record.last_message_type, &kind);

    QVariantMap map;
    map.insert(kPeer, peer);
    map.insert(kTs, record.last_timestamp);
    map.insert(QStringLiteral("isSuper"), false);
    map.insert(QStringLiteral("isPremium"), false);
    map.insert(kMuted, record.muted);

    if (record.conversation_type == QLatin1String("group")) {
        map.insert(kDisplay, record.peer_display_key.isEmpty() ? QStringLiteral("群聊") : record.peer_display_key);
        map.insert(kDisplayFallback, record.peer_display_key.isEmpty());
        map.insert(kLast, preview);
        map.insert(kLastKind, kind);
        map.insert(kBlocked, false);
        map.insert(kUnread, record.unread_count);
        map.insert(QStringLiteral("isGroup"), true);
        map.insert(QStringLiteral("isOfficial"), false);
        map.insert(QStringLiteral("isAuthor"), false);
        map.insert(QStringLiteral("verified"), false);
        map.insert(QStringLiteral("avatarId"), QStringLiteral("defaultgroupphoto"));
        return map;
    }

    map.insert(QStringLiteral("isGroup"), false);
    if (isOfficialPeer(peer)) {
        map.insert(kDisplay, officialAccountName());
        map.insert(kDisplayFallback, false);
        map.insert(kLast, QStringLiteral("Pelorin官方地址账号"));
        map.insert(kLastKind, QStringLiteral("official"));
        map.insert(kBlocked, false);
        map.insert(kUnread, record.unread_count);
        map.insert(QStringLiteral("isOfficial"), true);
        map.insert(QStringLiteral("isAuthor"), false);
        map.insert(QStringLiteral("verified"), true);
        return map;
    }

    // The key's own address, derived at most once per row.
    const QString derived = addressOfKey(peer);
    const QString address = contact && !contact->erc20_address.isEmpty() ? contact->erc20_address
                                                                         : record.peer_wallet_address;
    map.insert(kAddress, address);
    map.insert(kLast, preview);
    map.insert(kLastKind, kind);
    map.insert(QStringLiteral("isOfficial"), false);

    if (!derived.isEmpty() && derived.compare(authorAccountAddress(), Qt::CaseInsensitive) == 0) {
        map.insert(kDisplay, authorAccountName());
        map.insert(kDisplayFallback, false);
        map.insert(kBlocked, false);
        map.insert(kUnread, record.unread_count);
        map.insert(QStringLiteral("isAuthor"), true);
        map.insert(QStringLiteral("verified"), true);
        return map;
    }

    QString display;
    bool fallback = false;
    if (contact && !contact->remark.trimmed().isEmpty())
        display = contact->remark.trimmed();
    else if (contact && !contact->erc20_address.isEmpty())
        display = shortAddress(contact->erc20_address);
    else if (!record.peer_wallet_address.isEmpty())
        display = shortAddress(record.peer_wallet_address);
    else if (!derived.isEmpty())
        display = shortAddress(derived);
    else {
        display = QStringLiteral("未知地址");
        fallback = true;
    }
    const bool blocked = contact && contact->blocked != 0;
    map.insert(kDisplay, display);
    map.insert(kDisplayFallback, fallback);
    map.insert(kBlocked, blocked);
    map.insert(kUnread, blocked ? 0 : record.unread_count);
    map.insert(QStringLiteral("isAuthor"), false);
    map.insert(QStringLiteral("verified"), false);
    if (contact) {
        map.insert(QStringLiteral("avatarKind"), contact->avatar_kind);
        map.insert(QStringLiteral("avatarId"), contact->avatar_id);
    }
    return map;
}

ConversationList::Reading ConversationList::read(const SuperGroupDirectory &superGroups) const
{
    ChatStore &store = ChatStore::instance();
    Reading reading{ {}, m_built, m_pass };
    QHash<QString, Built> &built = reading.built;

    const QList<ContactRecord> contactRows = store.contacts();
    QHash<QString, const ContactRecord *> contacts;
    contacts.reserve(contactRows.size());
    for (const ContactRecord &contact : contactRows)
        contacts.insert(contact.wallet_public_key, &contact);

    // Each row with its sort keys, read once rather than at each comparison.
    struct Row
    {
        bool blocked;
        qint64 ts;
        QVariantMap map;
    };
    const QList<ConversationRecord> stored = store.listedConversations();
    const QVariantList &entries = superGroups.entries();
    std::vector<Row> rows;
    rows.reserve(size_t(stored.size() + entries.size()));
    // Kept rows are updated in place; those of conversations no longer listed
    // are swept afterwards.
    const quint64 pass = ++reading.pass;
    std::vector<Built *> entryOf(size_t(stored.size()));
    std::vector<int> changed;
    // Room for every row at once: a growing table would move its entries
    // (records and maps) at each doubling.
    if (built.capacity() < stored.size())
        built.reserve(stored.size());
    for (int i = 0; i < stored.size(); ++i) {
        const ConversationRecord &record = stored.at(i);
        const ContactRecord *found = contacts.value(record.peer_raw_public_key);
        const std::optional<ContactRecord> contact = found ? std::optional<ContactRecord>(*found) : std::nullopt;
        Built &entry = built[record.peer_raw_public_key];
        if (entry.pass == 0 || !sameShown(entry.record, record) || !sameShown(entry.contact, contact)) {
            entry.record = record;
            entry.contact = contact;
            changed.push_back(i);
        }
        entry.pass = pass;
    }
    // Taken once every row is in: an insertion may move the entries.
    for (int i = 0; i < stored.size(); ++i)
        entryOf[size_t(i)] = &built[stored.at(i).peer_raw_public_key];
    // The maps of new and changed rows (every row at a sign-in), made on
    // this one worker. Split over several threads they took three to four
    // times as long at a sign-in, when the window's first frames keep every
    // core busy.
    for (const int i : changed) {
        Built &entry = *entryOf[size_t(i)];
        entry.map = conversationMap(entry.record, entry.contact);
        entry.blocked = entry.map.value(kBlocked).toBool();
    }
    for (int i = 0; i < stored.size(); ++i)
        rows.push_back(Row{entryOf[size_t(i)]->blocked, stored.at(i).last_timestamp, entryOf[size_t(i)]->map});
    if (built.size() != stored.size())
        built.removeIf([pass](const auto &it) { return it.value().pass != pass; });

    if (!entries.isEmpty()) {
        QHash<QString, bool> mutedGroups;
        for (const SuperGroupRecord &group : store.superGroups())
            mutedGroups.insert(group.server_url, group.muted);
        for (const QVariant &value : entries) {
            QVariantMap map = value.toMap();
            const QString peer = map.value(kPeer).toString();
            const QString url = serverUrlOfPeer(peer);
            if (!url.isEmpty()) {
                const SuperGroupRuntimeState state = superGroups.runtime(url);
                map.insert(kUnread, state.unread);
                map.insert(QStringLiteral("connectionState"), state.connectionState);
                map.insert(QStringLiteral("latencyMs"), state.latencyMs);
                map.insert(kMuted, mutedGroups.value(url, false));
                QString text;
                QString type;
                QString kind;
                qint64 createdAt = 0;
                if (store.lastMessage(peer, &text, &createdAt, &type)) {
                    map.insert(kLast, payload::lastMessagePreview(text, type, &kind));
                    map.insert(kLastKind, kind);
                    map.insert(kTs, createdAt);
                }
            }
            rows.push_back(Row{map.value(kBlocked).toBool(), map.value(kTs).toLongLong(), map});
        }
    }

    // conversationLess, keeping the order of the sources for equal rows.
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) {
        if (a.blocked != b.blocked)
            return b.blocked;
        return a.ts > b.ts;
    });
    reading.rows.reserve(qsizetype(rows.size()));
    for (Row &row : rows)
        reading.rows.append(std::move(row.map));
    return reading;
}

void ConversationList::adopt(Reading reading)
{
    m_rows = std::move(reading.rows);
    m_built = std::move(reading.built);
    m_pass = reading.pass;
    m_rowOfValid = false;
}

int ConversationList::rowOf(const QString &peer) const
{
    if (!m_rowOfValid) {
        m_rowOf.clear();
        m_rowOf.reserve(m_rows.size());
        for (int i = 0; i < m_rows.size(); ++i)
            m_rowOf.insert(m_rows.at(i).toMap().value(kPeer).toString(), i);
        m_rowOfValid = true;
    }
    return m_rowOf.value(peer, -1);
}

ConversationList::Changed ConversationList::readChanged(ChatStore &store, const QString &peer)
{
    Changed changed;
    changed.peer = peer;
    changed.record = store.conversationByPeer(peer);
    if (!changed.record || changed.record->hidden_from_chats)
        return changed;
    if (!isGroupPeer(peer))
        changed.contact = store.contact(peer);
    changed.map = conversationMap(*changed.record, changed.contact);
    return changed;
}

std::optional<ConversationList::Placed> ConversationList::apply(const Changed &changed)
{
    const auto built = m_built.find(changed.peer);
    const int from = built == m_built.end() ? -1 : rowOf(changed.peer);
    if (from < 0 || !changed.record || changed.record->hidden_from_chats)
        return std::nullopt;
    if (sameShown(built->record, *changed.record) && sameShown(built->contact, changed.contact))
        return Placed{};
    built->record = *changed.record;
    built->contact = changed.contact;
    built->map = changed.map;
    built->blocked = changed.map.value(kBlocked).toBool();

    // The rows are in order (unblocked first, then newer first): the row
    // goes before the first other row that is not before it, found by
    // halving, so a row of the same time goes above the ones it ties with.
    const bool blocked = built->blocked;
    const qint64 ts = changed.record->last_timestamp;
    m_rows.removeAt(from);
    int low = 0;
    int high = int(m_rows.size());
    while (low < high) {
        const int middle = (low + high) / 2;
        const QVariantMap row = m_rows.at(middle).toMap();
        const bool rowBlocked = row.value(kBlocked).toBool();
        const bool before = rowBlocked != blocked ? !rowBlocked : row.value(kTs).toLongLong() > ts;
        if (before)
            low = middle + 1;
        else
            high = middle;
    }
    m_rows.insert(low, changed.map);
    // Only the rows between the two places changed index.
    for (int i = std::min(from, low); i <= std::max(from, low); ++i)
        m_rowOf.insert(m_rows.at(i).toMap().value(kPeer).toString(), i);
    return Placed{from, low};
}

bool ConversationList::conversationLess(const QVariant &a, const QVariant &b)
{
    const QVariantMap left = a.toMap();
    const QVariantMap right = b.toMap();
    const bool leftBlocked = left.value(kBlocked).toBool();
    const bool rightBlocked = right.value(kBlocked).toBool();
    if (leftBlocked != rightBlocked)
        return rightBlocked;
    return left.value(kTs).toLongLong() > right.value(kTs).toLongLong();
}

std::optional<int> ConversationList::markRead(const QString &peer)
{
    const auto built = m_built.find(peer);
    if (built == m_built.end())
        return std::nullopt;
    const bool shown = built->map.value(kUnread).toInt() != 0;
    built->record.unread_count = 0;
    if (!shown)
        return -1;
    built->map.insert(kUnread, 0);
    const int row = rowOf(peer);
    if (row < 0)
        return std::nullopt;
    m_rows[row] = built->map;
    return row;
}

bool ConversationList::updateConnectionState(const QString &serverUrl, const QString &state, int latencyMs)
{
    const QString peer = SuperGroupDirectory::peerFor(serverUrl);
    for (QVariant &value : m_rows) {
        QVariantMap map = value.toMap();
        if (map.value(kPeer).toString() != peer)
            continue;
        map.insert(QStringLiteral("connectionState"), state);
        map.insert(QStringLiteral("latencyMs"), latencyMs);
        value = map;
        return true;
    }
    return false;
}

} // namespace velmor::chat
