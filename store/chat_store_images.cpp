// The image messages of a conversation, for stepping through its pictures.

#include "store/chat_store.h"
#include "store/chat_store_internal.h"

QStringList ChatStore::imageMessageIds(const QString &conversationId, bool *ok)
{
    Session s(*d);
    // Every image message (sent, received one to one, in a group or a super
    // group) is stored with this preview text and the kind "image"; a peer's
    // text that reads the same is not one. The user's own sends were stored
    // with the kind "text" by earlier builds. Both columns lie before the
    // attachment, so no picture is read to find them.
    static const QString sql = velmor::store::selectOwned(
        QStringLiteral("id"), "messages",
        "AND conversation_id=? AND text=? AND (content_type='image' OR is_outgoing=1)"
        " ORDER BY created_at ASC, rowid ASC");
    return s.rows(sql, {s.owner(), conversationId, QStringLiteral("[图片]")},
                  [](Row &r) { return r.text(); }, ok);
}
