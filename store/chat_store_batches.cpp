#include "store/chat_store_internal.h"

// ---- batches -----------------------------------------------------------------

bool ChatStore::beginBatch()
{
    Session s(*d);
    velmor::store::Connection *conn = s.conn();
    if (!conn || conn->batch || !s.begin())
        return false;
    conn->batch = true;
    velmor::store::t_inBatch = true;
    return true;
}

bool ChatStore::beginBatch(const QString &ownerKey)
{
    if (ownerKey.isEmpty() || !beginBatch())
        return false;
    Session s(*d);
    // The owner cannot change while the batch's transaction is open: a
    // close() drops the connection, and the batch writes nothing after it.
    if (s.owner() == ownerKey)
        return true;
    rollbackBatch();
    return false;
}

bool ChatStore::commitBatch()
{
    Session s(*d);
    velmor::store::t_inBatch = false;
    velmor::store::Connection *conn = s.conn();
    if (!conn || !conn->batch)
        return false;
    conn->batch = false;
    if (s.commit()) {
        d->foldLargeLog();
        return true;
    }
    s.rollback();
    return false;
}

void ChatStore::rollbackBatch()
{
    Session s(*d);
    velmor::store::t_inBatch = false;
    velmor::store::Connection *conn = s.conn();
    if (!conn || !conn->batch)
        return;
    conn->batch = false;
    s.rollback();
}

bool ChatStore::beginBatchItem()
{
    Session s(*d);
    return s.conn() && s.conn()->batch && s.run(QStringLiteral("SAVEPOINT velmor_item"), {});
}

bool ChatStore::endBatchItem(bool keep)
{
    Session s(*d);
    if (!s.conn() || !s.conn()->batch)
        return false;
    if (keep && s.run(QStringLiteral("RELEASE velmor_item"), {}))
        return true;
    s.run(QStringLiteral("ROLLBACK TO velmor_item"), {});
    s.run(QStringLiteral("RELEASE velmor_item"), {});
    return false;
}

ChatStore::Batch::Batch(ChatStore &store) : m_store(store), m_active(store.beginBatch()) {}

ChatStore::Batch::Batch(ChatStore &store, const QString &ownerKey)
    : m_store(store), m_active(store.beginBatch(ownerKey))
{
}

ChatStore::Batch::~Batch()
{
    if (m_active)
        m_store.rollbackBatch();
}

bool ChatStore::Batch::commit()
{
    if (!m_active)
        return false;
    m_active = false;
    return m_store.commitBatch();
}
