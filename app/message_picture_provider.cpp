#include "app/message_picture_provider.h"

#include "chat/message_pictures.h"

#include <QQmlEngine>

namespace velmor::app {

MessagePictureProvider::MessagePictureProvider()
    : QQuickImageProvider(QQuickImageProvider::Image, QQmlImageProviderBase::ForceAsynchronousImageLoading)
{
}

QImage MessagePictureProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    return velmor::chat::MessagePictures::instance().picture(id, size, requestedSize);
}

void installMessagePictures(QQmlEngine &engine)
{
    engine.addImageProvider(QLatin1String(velmor::chat::MessagePictures::kProvider), new MessagePictureProvider);
}

} // namespace velmor::app
