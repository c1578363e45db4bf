#include "chat/outbox_queue.h"

namespace velmor::chat {

void PostQueue::add(const QString &id, const QString &conversation, bool first)
{
    if (m_conversationOf.contains(id))
        return;
    m_conversationOf.insert(id, conversation);
    std::deque<QString> &waiting = m_waiting[conversation];
    if (first)
        waiting.push_front(id);
    else
        waiting.push_back(id);
    if (!busy(conversation))
        markReady(conversation, first);
}

void PostQueue::markReady(const QString &conversation, bool first)
{
    if (m_readySet.contains(conversation))
        return;
    m_readySet.insert(conversation);
    if (first)
        m_ready.push_front(conversation);
    else
        m_ready.push_back(conversation);
}

std::optional<PostQueue::Run> PostQueue::takeRun(int most)
{
    while (!m_ready.empty()) {
        const QString conversation = m_ready.front();
        m_ready.pop_front();
        m_readySet.remove(conversation);
        const auto waiting = m_waiting.find(conversation);
        // Emptied by a drop, or taken up by a post from outside meanwhile.
        if (waiting == m_waiting.end() || waiting->empty() || busy(conversation))
            continue;
        Run run{conversation, {}};
        while (!waiting->empty() && run.ids.size() < most) {
            run.ids.append(waiting->front());
            m_conversationOf.remove(waiting->front());
            waiting->pop_front();
        }
        if (waiting->empty())
            m_waiting.erase(waiting);
        started(run.ids.first(), conversation);
        return run;
    }
    return std::nullopt;
}

void PostQueue::started(const QString &key, const QString &conversation)
{
    m_onWay.insert(conversation, key);
    m_onWayConversation.insert(key, conversation);
}

void PostQueue::ended(const QString &key)
{
    const auto at = m_onWayConversation.find(key);
    if (at == m_onWayConversation.end())
        return;
    const QString conversation = *at;
    m_onWayConversation.erase(at);
    // A conversation deleted meanwhile may have a newer post on its way.
    if (m_onWay.value(conversation) != key)
        return;
    m_onWay.remove(conversation);
    if (m_waiting.contains(conversation))
        markReady(conversation);
}

void PostQueue::drop(const QString &conversation)
{
    for (const QString &id : m_waiting.take(conversation))
        m_conversationOf.remove(id);
    m_onWay.remove(conversation);
}

void PostQueue::clearWaiting()
{
    m_waiting.clear();
    m_conversationOf.clear();
    m_ready.clear();
    m_readySet.clear();
}

} // namespace velmor::chat
