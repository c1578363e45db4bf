// The sends waiting to be posted, by conversation: one conversation's posts
// go one after another, each once the one before it is answered (or ended
// for good), while different conversations post side by side. A
// conversation's sends are taken as a run, posted one after another by one
// job, so that a burst does not wait for the window's thread between two
// posts.
//
// A receiver files a sender's messages by their time in seconds and then by
// their arrival, and a group server numbers them as they arrive: two posts
// of one conversation on their way at once may arrive swapped, and show
// swapped to everyone. Only the sender knows the order they were written in,
// so it keeps it.
#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <deque>
#include <optional>

namespace velmor::chat {

class PostQueue
{
public:
    // Waits behind the conversation's earlier sends; `first`: ahead of
    // them (a post that must go again before the ones it held back).
    void add(const QString &id, const QString &conversation, bool first = false);
    bool contains(const QString &id) const { return m_conversationOf.contains(id); }
    bool isEmpty() const { return m_conversationOf.isEmpty(); }
    int size() const { return int(m_conversationOf.size()); }
    // A post of the conversation is on its way: its next waits for its answer.
    bool busy(const QString &conversation) const { return m_onWay.contains(conversation); }
    // Conversations with a post (or a run of posts) on their way.
    int onWay() const { return int(m_onWay.size()); }
    struct Run
    {
        QString conversation;
        QStringList ids; // oldest first; the first is the run's key
    };
    // The oldest sends (at most `most`) of a conversation with nothing on
    // its way, the conversations in the order they became free; marked on
    // their way under the first one's id.
    std::optional<Run> takeRun(int most);
    // A post that did not come through the queue is on its way.
    void started(const QString &key, const QString &conversation);
    // A post's (or a run's) job is over: the conversation's next may go.
    void ended(const QString &key);
    // The conversation is deleted: its waiting sends leave the queue (their
    // rows go with it), and a post of it on its way holds nothing back.
    void drop(const QString &conversation);
    // The session ended: nothing waits any more; posts on their way still
    // hold their conversations until they end.
    void clearWaiting();

private:
    void markReady(const QString &conversation, bool first = false);

    QHash<QString, std::deque<QString>> m_waiting; // by conversation, oldest first
    QHash<QString, QString> m_conversationOf;      // every waiting id
    QHash<QString, QString> m_onWay;               // conversation -> the key on its way
    QHash<QString, QString> m_onWayConversation;   // key on its way -> its conversation
    std::deque<QString> m_ready;                   // conversations free to post, in turn
    QSet<QString> m_readySet;
};

} // namespace velmor::chat
