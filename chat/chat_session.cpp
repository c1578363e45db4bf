#include "chat/chat_session.h"

#include "net/relay_session.h"
#include "store/chat_store.h"

namespace velmor::chat {

ChatSession::ChatSession() = default;

void ChatSession::begin()
{
    const QString owner = store().ownerKey();
    if (m_active && owner == m_ownerKey)
        return;
    ++m_generation;
    m_ownerKey = owner;
    m_active = true;
}

void ChatSession::end()
{
    ++m_generation;
    m_ownerKey.clear();
    m_active = false;
}

ChatSession::Ticket ChatSession::ticket() const
{
    // Outside a session the ticket still records the store's owner, so work
    // started before start() is dropped when someone else signs in meanwhile.
    return Ticket{m_generation, m_active ? m_ownerKey : store().ownerKey()};
}

bool ChatSession::isCurrent(const Ticket &ticket) const
{
    return ticket.generation == m_generation && ticket.ownerKey == store().ownerKey();
}

ChatStore &ChatSession::store() const
{
    return ChatStore::instance();
}

bool ChatSession::storeOpen() const
{
    return store().isOpen();
}

velmor::identity::Identity ChatSession::identity() const
{
    return velmor::net::RelayAuthSession::instance().identity();
}

QString ChatSession::myKey() const
{
    const velmor::identity::Identity me = identity();
    return me.publicKey.isEmpty() ? QString() : me.publicKeyText();
}

} // namespace velmor::chat
