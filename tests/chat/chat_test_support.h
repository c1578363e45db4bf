// What the chat tests stand on: users with fixed identities and a store file
// each in a temporary folder, a sign-in that opens the store for a user and
// configures the relay session as the application's login does, and record
// builders for stored rows.
#pragma once

#include "chat/chat_controller.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "net/relay_session.h"
#include "store/chat_store.h"

#include <QDir>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace chattest {

struct User
{
    QString name;
    velmor::identity::Identity identity;
    QString dbPath;

    QString key() const { return identity.publicKeyText(); }
    QString address() const { return identity.erc20Address(); }
};

inline velmor::identity::Identity identityFromByte(char byte)
{
    return velmor::identity::Identity(QByteArray(32, byte));
}

// A peer's key text (uncompressed, base64url) from a fixed secret byte.
inline QString peerKey(char byte)
{
    return identityFromByte(byte).publicKeyText();
}

// The same key in its 33-byte compressed form.
inline QString compressedKey(const QString &keyText)
{
    return velmor::crypto::base64UrlEncode(
        velmor::crypto::normalisePublicKey(velmor::crypto::base64UrlDecode(keyText), true));
}

// The public key behind the author account's fixed address.
inline QString authorKey()
{
    return velmor::identity::Identity(velmor::crypto::sha256("pelorin author account")).publicKeyText();
}

class ChatFixture
{
protected:
    QTemporaryDir m_dir;

    User makeUser(const QString &name, char secretByte)
    {
        User user;
        user.name = name;
        user.identity = identityFromByte(secretByte);
        user.dbPath = QDir(m_dir.path()).filePath(name + QStringLiteral(".db"));
        return user;
    }

    // As the application's login does: relay session, then the store.
    static bool signIn(const User &user, const QString &relayUrl = QStringLiteral("http://127.0.0.1:9"))
    {
        velmor::net::RelayAuthSession::instance().configure(relayUrl, user.identity);
        return ChatStore::instance().open(user.key(), user.dbPath);
    }

    static void signOut()
    {
        ChatStore::instance().close();
        velmor::net::RelayAuthSession::instance().clear();
    }

    // A controller that ignores the machine's network reachability, so no
    // recovery runs behind a test's back.
    static std::unique_ptr<ChatController> makeController()
    {
        auto controller = std::make_unique<ChatController>();
        controller->watchReachability(false);
        return controller;
    }
};

inline velmor::chat::MessageRecord message(const QString &id, const QString &conversationId, const QString &text,
                                           qint64 createdAt, bool outgoing = false)
{
    velmor::chat::MessageRecord m;
    m.id = id;
    m.conversation_id = conversationId;
    m.peer_raw_public_key = conversationId;
    m.sender_raw_public_key = outgoing ? QStringLiteral("me") : QStringLiteral("peer");
    m.text = text;
    m.created_at = createdAt;
    m.is_outgoing = outgoing;
    m.status = outgoing ? velmor::chat::MessageStatus::Sent : velmor::chat::MessageStatus::Received;
    return m;
}

// Appends the name of every controller signal, as it is emitted, to `log`.
inline void recordSignals(ChatController &c, QStringList &log)
{
    auto note = [&log](const char *name) { return [&log, name] { log.append(QString::fromLatin1(name)); }; };
    QObject::connect(&c, &ChatController::conversationsChanged, &c, note("conversationsChanged"));
    QObject::connect(&c, &ChatController::messagesChanged, &c, note("messagesChanged"));
    QObject::connect(&c, &ChatController::currentChanged, &c, note("currentChanged"));
    QObject::connect(&c, &ChatController::contactsChanged, &c, note("contactsChanged"));
    QObject::connect(&c, &ChatController::notificationsChanged, &c, note("notificationsChanged"));
    QObject::connect(&c, &ChatController::friendInfoChanged, &c, note("friendInfoChanged"));
    QObject::connect(&c, &ChatController::discoveryChanged, &c, note("discoveryChanged"));
    QObject::connect(&c, &ChatController::lifecycleRestored, &c, note("lifecycleRestored"));
    QObject::connect(&c, &ChatController::lastErrorChanged, &c, note("lastErrorChanged"));
    QObject::connect(&c, &ChatController::operationFailed, &c, note("operationFailed"));
    QObject::connect(&c, &ChatController::errorOccurred, &c, note("errorOccurred"));
}

} // namespace chattest
