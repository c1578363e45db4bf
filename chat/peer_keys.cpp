#include "chat/peer_keys.h"

#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "store/chat_store.h"

#include <QHash>
#include <QReadWriteLock>

namespace velmor::chat {

bool isGroupPeer(const QString &peer)
{
    return peer.startsWith(QLatin1String(kGroupPeerPrefix));
}

bool isSuperGroupPeer(const QString &peer)
{
    return peer.startsWith(QLatin1String(kSuperGroupPeerPrefix));
}

QString groupIdOfPeer(const QString &peer)
{
    return isGroupPeer(peer) ? peer.mid(int(sizeof(kGroupPeerPrefix)) - 1) : QString();
}

QString serverUrlOfPeer(const QString &peer)
{
    return isSuperGroupPeer(peer) ? peer.mid(int(sizeof(kSuperGroupPeerPrefix)) - 1) : QString();
}

QString conversationIdForPeer(const QString &peer)
{
    if (isGroupPeer(peer) || isSuperGroupPeer(peer))
        return peer;
    return ChatStore::instance().conversationIdFor(peer);
}

QString shortAddress(const QString &text)
{
    if (text.size() < 15)
        return text;
    return text.left(6) + QChar(0x2026) + text.right(6);
}

namespace {

struct KeyFacts
{
    bool official = false;
    QString address;
};

// Lists are rebuilt after every message, and each rebuild would decode every
// peer key and hash it again: the facts of a key text never change, so they
// are kept (bounded; any thread).
KeyFacts keyFacts(const QString &keyText)
{
    // Read-locked: the rows of a long list look their keys up on several
    // threads at once.
    static QReadWriteLock lock;
    static QHash<QString, KeyFacts> cache;
    constexpr int kMaxCached = 8192;
    {
        QReadLocker reading(&lock);
        const auto found = cache.constFind(keyText);
        if (found != cache.constEnd())
            return *found;
    }
    KeyFacts facts;
    facts.official = isOfficialAccountKey(keyText);
    const QByteArray raw = velmor::crypto::base64UrlDecode(keyText.trimmed());
    if (raw.size() == 33 || raw.size() == 65)
        facts.address = velmor::identity::ethereumAddress(raw);
    QWriteLocker writing(&lock);
    if (cache.size() >= kMaxCached)
        cache.clear();
    cache.insert(keyText, facts);
    return facts;
}

} // namespace

QString addressOfKey(const QString &keyText)
{
    return keyFacts(keyText).address;
}

bool isOfficialPeer(const QString &keyText)
{
    return keyFacts(keyText).official;
}

QString authorAccountAddress()
{
    static const QString address = QStringLiteral("0x95f2042d7ea0e91ecf776b16abb5c6eb45add4b4");
    return address;
}

QString authorAccountName()
{
    return QStringLiteral("Pelorin author");
}

bool isAuthorAccountKey(const QString &keyText)
{
    if (isOfficialPeer(keyText))
        return false;
    const QString address = addressOfKey(keyText);
    return !address.isEmpty() && address.compare(authorAccountAddress(), Qt::CaseInsensitive) == 0;
}

} // namespace velmor::chat
