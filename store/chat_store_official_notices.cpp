#include "store/chat_store_internal.h"

// ---- official notices already shown ----------------------------------------

bool ChatStore::officialNoticeKnown(const QString &noticeId)
{
    Session s(*d);
    return s.exists(QStringLiteral("SELECT 1 FROM official_notices WHERE owner_raw_public_key=? AND notice_id=?"),
                    {s.owner(), noticeId});
}

bool ChatStore::rememberOfficialNotice(const QString &noticeId, const QString &messageId)
{
    if (noticeId.isEmpty())
        return false;
    Session s(*d);
    return s.run(QStringLiteral("INSERT OR IGNORE INTO official_notices(owner_raw_public_key,notice_id,message_id,"
                                "created_at) VALUES(?,?,?,?)"),
                 {s.owner(), noticeId, messageId, velmor::store::nowSeconds()});
}
