#include "chat/peer_keys.h"

#include "identity/content.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "store/chat_store.h"

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

QString addressOfKey(const QString &keyText)
{
    const QByteArray raw = velmor::crypto::base64UrlDecode(keyText.trimmed());
    if (raw.size() != 33 && raw.size() != 65)
        return QString();
    return velmor::identity::ethereumAddress(raw);
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
    if (isOfficialAccountKey(keyText))
        return false;
    const QString address = addressOfKey(keyText);
    return !address.isEmpty() && address.compare(authorAccountAddress(), Qt::CaseInsensitive) == 0;
}

} // namespace velmor::chat
