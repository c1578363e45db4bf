// The image messages of a conversation, for stepping through its pictures.

#include "store/chat_store.h"
#include "store/chat_store_internal.h"

QStringList ChatStore::imageMessageIds(const QString &conversationId, bool *ok)
{
    Session s(*d);
    // Every kind of image message (sent, received one to one, in a group or
    // a super group) is stored with this preview text; the column lies
    // before the attachment, so no picture is read to find them.
    static const QString sql = velmor::store::selectOwned(
        QStringLiteral("id"), "messages",
        "AND conversation_id=? AND text=? ORDER BY created_at ASC, rowid ASC");
    return s.rows(sql, {s.owner(), conversationId, QStringLiteral("[图片]")},
                  [](Row &r) { return r.text(); }, ok);
}
