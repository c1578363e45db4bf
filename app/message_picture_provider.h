// Serves "image://messages/..." from the pictures the message list holds
// (chat/message_pictures.h), decoded on Qt's image thread.
#pragma once

#include <QQuickImageProvider>

class QQmlEngine;

namespace velmor::app {

class MessagePictureProvider : public QQuickImageProvider
{
public:
    MessagePictureProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};

// Adds the provider to the engine under its name.
void installMessagePictures(QQmlEngine &engine);

} // namespace velmor::app
