// What the messaging tests stand on beside chat_test_support.h: a local
// relay, envelopes built and signed as another user's client would, and
// waits for a controller's pull and acknowledgements to settle.
#pragma once

#include "chat_test_support.h"
#include "chat/messaging_parts.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "net/relay_api.h"
#include "support/fake_relay.h"

#include <QDateTime>
#include <QJsonObject>
#include <QUuid>

namespace chattest {

inline QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
}

inline velmor::chat::MessageContent textContent(const QString &text)
{
    velmor::chat::MessageContent content;
    content.type = QStringLiteral("text");
    content.text = text;
    return content;
}

// The wire form of an envelope from `sender` to `recipient`, sealed and
// signed as the sender's client does.
inline QJsonObject envelopeJson(const User &sender, const User &recipient, const velmor::chat::MessageContent &content,
                                const QString &id)
{
    const QString box = velmor::identity::sealDirectMessage(sender.identity, recipient.key(),
                                                            velmor::chat::serializeMessageContent(content));
    const velmor::identity::Envelope envelope = velmor::identity::signEnvelope(
        sender.identity, recipient.key(), box, id, QDateTime::currentSecsSinceEpoch());
    return velmor::chat::RelayApi::envelopeToJson(envelope);
}

class RelayChatFixture : public ChatFixture
{
protected:
    velmor::fakes::FakeRelay m_relay;

    bool signInHere(const User &user) { return signIn(user, m_relay.baseUrl()); }

    // Queues a text from `sender` for `recipient`; returns its id.
    QString queueText(const User &sender, const User &recipient, const QString &text, QString id = QString())
    {
        if (id.isEmpty())
            id = newId();
        m_relay.enqueueRaw(recipient.key(), envelopeJson(sender, recipient, textContent(text), id));
        return id;
    }

    struct PullOutcome
    {
        int envelopes = -1; // -1: no pull came back
        int acknowledged = 0;
    };

    // Waits for the pull that runs (if any) and its acknowledgement.
    static PullOutcome settle(ChatController &chat, QSignalSpy &processed, QSignalSpy &settled)
    {
        if (processed.isEmpty() && !processed.wait(5000))
            return {};
        const PullOutcome out{processed.first().at(0).toInt(), processed.first().at(1).toInt()};
        if (out.acknowledged > 0 && settled.isEmpty())
            settled.wait(5000);
        return out;
    }

    // One pull of the controller, processed and its acknowledgement settled.
    static PullOutcome pullAndSettle(ChatController &chat)
    {
        velmor::chat::MessagingParts &parts = chat.messaging();
        if (chat.syncing()) {
            QSignalSpy processed(&parts.inbox, &velmor::chat::Inbox::pullProcessed);
            QSignalSpy settled(&parts.acks, &velmor::chat::AckQueue::settled);
            settle(chat, processed, settled);
        }
        QSignalSpy processed(&parts.inbox, &velmor::chat::Inbox::pullProcessed);
        QSignalSpy settled(&parts.acks, &velmor::chat::AckQueue::settled);
        parts.inbox.pullOnce();
        return settle(chat, processed, settled);
    }

    // start() without the push sockets, its first pull settled.
    static void startQuiet(ChatController &chat)
    {
        chat.start();
        chat.messaging().push.shutDown();
        if (chat.syncing()) {
            QSignalSpy processed(&chat.messaging().inbox, &velmor::chat::Inbox::pullProcessed);
            QSignalSpy settled(&chat.messaging().acks, &velmor::chat::AckQueue::settled);
            settle(chat, processed, settled);
        }
    }
};

} // namespace chattest
