#include "store/chat_store_internal.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace velmor::store {

namespace {

const Layout<ParkedGroupMessageRecord> &parkedLayout()
{
    using R = ParkedGroupMessageRecord;
    static const Layout<R> layout{
        {"group_id", &R::group_id},
        {"message_id", &R::message_id},
        {"sender_raw_public_key", &R::sender_raw_public_key},
        {"epoch", &R::epoch},
        {"ciphertext", &R::ciphertext},
        {"created_at", &R::created_at},
        {"content_digest", &R::content_digest},
        {"parked_at", &R::parked_at},
        {"bytes", &R::bytes},
    };
    return layout;
}

} // namespace
} // namespace velmor::store

using velmor::store::parkedLayout;

// ---- group messages waiting for the card of their epoch ---------------------

bool ChatStore::parkGroupMessage(const ParkedGroupMessageRecord &message)
{
    if (message.group_id.isEmpty() || message.message_id.isEmpty())
        return false;
    ParkedGroupMessageRecord row = message;
    row.bytes = row.ciphertext.toUtf8().size();
    if (row.parked_at <= 0)
        row.parked_at = QDateTime::currentSecsSinceEpoch();
    Session s(*d);
    return s.run(parkedLayout().insert("INSERT OR IGNORE", "parked_group_messages"),
                 parkedLayout().values(s.owner(), row));
}

int ChatStore::trimParkedGroupMessages(const QString &senderKey, int maxRows, qint64 maxBytes)
{
    // Newest first, each row with its rank and the bytes of the rows up to
    // it; every row past either bound goes. Only the indexed columns are
    // read, so the cost does not grow with the size of the ciphertexts.
    const QString writer = senderKey.isEmpty() ? QString() : QStringLiteral("AND sender_raw_public_key=?");
    const QString sql = QStringLiteral(
                            "DELETE FROM parked_group_messages WHERE rowid IN (SELECT rowid FROM ("
                            "SELECT rowid, ROW_NUMBER() OVER w AS rank, SUM(bytes) OVER w AS total "
                            "FROM parked_group_messages WHERE owner_raw_public_key=? %1 "
                            "WINDOW w AS (ORDER BY parked_at DESC, rowid DESC)) WHERE rank>? OR total>?)")
                            .arg(writer);
    Session s(*d);
    QVariantList binds{s.owner()};
    if (!senderKey.isEmpty())
        binds.append(senderKey);
    binds << maxRows << maxBytes;
    velmor::store::Stmt st(s.conn(), sql, binds);
    return st.ok() ? st.rowsAffected() : -1;
}

int ChatStore::dropParkedGroupMessagesBefore(qint64 parkedBefore)
{
    Session s(*d);
    velmor::store::Stmt st(
        s.conn(), QStringLiteral("DELETE FROM parked_group_messages WHERE owner_raw_public_key=? AND parked_at<?"),
        {s.owner(), parkedBefore});
    return st.ok() ? st.rowsAffected() : -1;
}

bool ChatStore::dropParkedGroupMessagesNotFrom(const QString &groupId, const QStringList &writers)
{
    const QByteArray listed = QJsonDocument(QJsonArray::fromStringList(writers)).toJson(QJsonDocument::Compact);
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM parked_group_messages WHERE owner_raw_public_key=? AND group_id=? "
                                "AND sender_raw_public_key NOT IN (SELECT value FROM json_each(?))"),
                 {s.owner(), groupId, QString::fromUtf8(listed)});
}

QStringList ChatStore::parkedGroupIds(bool *ok)
{
    Session s(*d);
    return s.rows(selectOwned(QStringLiteral("DISTINCT group_id"), "parked_group_messages"), {s.owner()},
                  [](velmor::store::Row &r) { return r.text(); }, ok);
}

QList<ParkedGroupMessageRecord> ChatStore::parkedGroupMessages(const QString &groupId, qint64 maxEpoch, bool *ok)
{
    Session s(*d);
    return s.rows(parkedLayout().select("parked_group_messages", "AND group_id=? AND epoch<=? ORDER BY created_at"),
                  {s.owner(), groupId, maxEpoch}, parkedLayout(), ok);
}

bool ChatStore::deleteParkedGroupMessages(const QString &groupId, qint64 maxEpoch)
{
    Session s(*d);
    return s.run(QStringLiteral("DELETE FROM parked_group_messages WHERE owner_raw_public_key=? AND group_id=? "
                                "AND epoch<=?"),
                 {s.owner(), groupId, maxEpoch});
}
