// "image://chatimage/<peer>/<message id>": the picture of a stored image
// message of the conversation with that peer (the key the views name it by),
// read from the store and decoded on Qt's image-loading thread, so the
// image viewer can show a message whose page is not loaded.
#pragma once

#include <QQuickImageProvider>

namespace velmor::app {

class ConversationImageProvider : public QQuickImageProvider
{
public:
    ConversationImageProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;
};

} // namespace velmor::app
