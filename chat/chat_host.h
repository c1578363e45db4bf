// What a feature part of the chat controller is given. The controller
// (ChatController, the "Chat" object of the views) is a façade: each feature
// (inbox and acknowledgements, sending, push sockets, discovery,
// notifications, normal groups, super groups) is a class of its own that
// receives a ChatHost& in its constructor and keeps no pointer to the
// façade's QML surface.
//
// A part:
// - reads the session (owner, store, identity) and starts background jobs
//   through `jobs()`, whose results are dropped when the session changed;
// - reports failures through `errors()` (publishWord / publish), never by
//   emitting the façade's signals itself;
// - asks for list rebuilds with reloadConversations(), reloadMessages() and
//   reloadContacts() after it changed what they show, and opens a
//   conversation with openConversation(); a part that changed one message
//   says which (messageStored, messageStatusChanged, messageRemoved): that
//   costs one row of the message list, not a reading of the conversation;
// - keeps super-group state in `superGroups()` (runtime records and
//   conversation entries) so the conversation list and the current
//   conversation read one table;
// - signals of its own that QML must see (syncing, discovery, capacity …)
//   are declared on the part (a QObject part) and forwarded by the façade
//   with one connect in its constructor.
#pragma once

#include "chat/conversation_list.h"
#include "store/records.h"

#include <QString>

namespace velmor::chat {

class ChatSession;
class ErrorModel;
class JobRunner;
class SuperGroupDirectory;
class CurrentConversation;

class ChatHost
{
public:
    virtual ~ChatHost() = default;

    virtual ChatSession &session() = 0;
    virtual ErrorModel &errors() = 0;
    virtual JobRunner &jobs() = 0;
    virtual SuperGroupDirectory &superGroups() = 0;
    virtual const CurrentConversation &current() const = 0;

    // Rebuild a list from the store and tell the views (one change signal each).
    // reloadMessages() reads the open conversation's loaded messages again
    // (and any newer); for one known message the calls below are cheaper.
    virtual void reloadConversations() = 0;
    // The same for the conversation list, read on a worker and shown when
    // read (a frame or two later): for changes the window need not wait for,
    // as a pull's new messages, whose reading grows with the list's length.
    virtual void reloadConversationsSoon() = 0;
    virtual void reloadMessages() = 0;
    // The user has read the peer's conversation: its unread count goes to 0
    // in the list at once and in the store on a worker.
    virtual void markConversationRead(const QString &peer) = 0;
    // Messages were stored in these conversations, read as they are now
    // (ConversationList::readChanged, on the worker that stored them): each
    // one's row in the conversation list changes and moves to its place,
    // or, when the list cannot tell it in place, the list is read again.
    virtual void conversationsStored(const QList<ConversationList::Changed> &changed) = 0;
    // One message was stored or changed (`record` as stored, attachment
    // included): the open conversation's list adds or redraws its row.
    // A message of another conversation changes nothing.
    virtual void messageStored(const MessageRecord &record) = 0;
    // Only the status (a MessageStatus value) of one stored message changed.
    virtual void messageStatusChanged(const QString &messageId, int status) = 0;
    // One message was deleted from the store.
    virtual void messageRemoved(const QString &messageId) = 0;
    virtual void reloadContacts() = 0;
    // Makes a peer the open conversation (title, marks, messages).
    virtual void openConversation(const QString &peer) = 0;
    // Asks for a desktop notice of a new message (none for the open
    // conversation, an empty peer or a muted conversation).
    virtual void notifyIncoming(const QString &peer, const QString &title, bool muted) = 0;
};

} // namespace velmor::chat
