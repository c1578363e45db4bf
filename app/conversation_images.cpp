#include "app/conversation_images.h"

#include "chat/peer_keys.h"
#include "identity/crypto.h"
#include "store/chat_store.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace velmor::app {

ConversationImageProvider::ConversationImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Image, QQmlImageProviderBase::ForceAsynchronousImageLoading)
{
}

QImage ConversationImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    QImage image;
    // "<peer>/<message id>", each percent-encoded: an id names a message
    // only within its conversation.
    const qsizetype slash = id.indexOf(QLatin1Char('/'));
    const QString peer = QUrl::fromPercentEncoding(id.left(slash).toUtf8());
    const QString conversationId = slash > 0 ? velmor::chat::conversationIdForPeer(peer) : QString();
    const auto message = conversationId.isEmpty()
        ? std::nullopt
        : velmor::chat::ChatStore::instance().messageById(conversationId,
                                                          QUrl::fromPercentEncoding(id.mid(slash + 1).toUtf8()));
    if (message) {
        const QJsonObject media = QJsonDocument::fromJson(message->attachment.toUtf8()).object();
        if (media.value(QStringLiteral("kind")).toString() == QLatin1String("image"))
            image.loadFromData(velmor::crypto::base64UrlDecode(media.value(QStringLiteral("b64")).toString()));
    }
    if (!image.isNull() && requestedSize.isValid() && !requestedSize.isEmpty())
        image = image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (size)
        *size = image.size();
    return image;
}

} // namespace velmor::app
