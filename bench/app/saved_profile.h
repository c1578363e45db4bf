#pragma once
// A profile folder holding a saved identity, as a previous sign-in leaves it,
// so that a started program signs in by itself.
#include "identity/identity.h"
#include "identity/vault.h"
#include "store/chat_store.h"

#include <QFile>
#include <QString>

// With `conversations` > 0 the profile's store holds that many one-to-one
// conversations of three messages each, as a signed-in user leaves them.
// `owner` and `firstPeer`, when given, receive the identity's public key and
// the first conversation's peer.
inline bool saveNewIdentityIn(const QString &dataHome, int conversations = 0, QString *owner = nullptr,
                              QString *firstPeer = nullptr)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const auto identity = velmor::identity::Identity::generate();
    bool ok = CredentialVault::write(QStringLiteral("private_key"), identity.privateKeyText().toUtf8());
    if (owner)
        *owner = identity.publicKeyText();
    if (ok && conversations > 0) {
        ChatStore &store = ChatStore::instance();
        ok = store.open(identity.publicKeyText());
        for (int i = 0; ok && i < conversations; ++i) {
            const QString peer = velmor::identity::Identity::generate().publicKeyText();
            if (firstPeer && i == 0)
                *firstPeer = peer;
            store.ensureDirectConversation(peer, peer, peer.left(8));
            QList<velmor::chat::MessageRecord> messages;
            for (int m = 0; m < 3; ++m) {
                velmor::chat::MessageRecord record;
                record.id = QStringLiteral("%1-%2").arg(i).arg(m);
                record.conversation_id = store.conversationIdFor(peer);
                record.peer_raw_public_key = peer;
                record.created_at = 1700000000 + i * 10 + m;
                record.is_outgoing = m == 1;
                record.status = record.is_outgoing ? velmor::chat::MessageStatus::Sent
                                                   : velmor::chat::MessageStatus::Received;
                record.text = QStringLiteral("message %1 of conversation %2").arg(m).arg(i);
                messages.append(record);
            }
            ok = store.upsertMessages(messages);
        }
        store.close();
    }
    qunsetenv("XDG_DATA_HOME");
    return ok;
}
