#include "app/conversation_images.h"

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
    const auto message = velmor::chat::ChatStore::instance().messageById(QUrl::fromPercentEncoding(id.toUtf8()));
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
