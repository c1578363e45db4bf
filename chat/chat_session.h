// The signed-in chat session as the controller's parts see it: whose session
// it is (the store's owner key), the process-wide store it reads and writes,
// and a generation number that changes whenever the session ends or another
// owner's session begins.
//
// How a part uses it: take a `Ticket` when work starts that finishes later
// (JobRunner does this for every background job) and ask `isCurrent(ticket)`
// before applying the result. A result that belongs to an ended session, or
// to another owner, is dropped: nothing stored, nothing emitted.
#pragma once

#include "identity/identity.h"

#include <QString>
#include <QtGlobal>

class ChatStore;

namespace velmor::chat {

class ChatSession
{
public:
    // Names the session that started a piece of work.
    struct Ticket
    {
        quint64 generation = 0;
        QString ownerKey;
    };

    ChatSession();

    // Called by start(): adopts the store's current owner. A new generation
    // begins unless the same owner's session is already running, so a second
    // start() keeps that session's jobs.
    void begin();
    // Called by stop(): the session ends and every outstanding ticket goes stale.
    void end();

    bool isActive() const { return m_active; }
    quint64 generation() const { return m_generation; }
    // The owner key adopted by begin(); empty before and after a session.
    QString ownerKey() const { return m_ownerKey; }

    Ticket ticket() const;
    // True while no begin()/end() happened since the ticket was taken and the
    // store is still open for the ticket's owner.
    bool isCurrent(const Ticket &ticket) const;

    ChatStore &store() const;
    bool storeOpen() const;

    // The signed-in user's identity and key text, as the relay session holds
    // them (empty while nobody is signed in).
    velmor::identity::Identity identity() const;
    QString myKey() const;

private:
    quint64 m_generation = 0;
    QString m_ownerKey;
    bool m_active = false;
};

} // namespace velmor::chat
