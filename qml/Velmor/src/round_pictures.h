#pragma once

#include <QImage>
#include <QQuickImageProvider>

class QQmlEngine;

namespace velmor::views {

// The bundled avatar pictures cut to a circle, served as
// "image://round/<path under the module's assets folder>" (for example
// "image://round/avatars/avatar_boys_001.png") and drawn on Qt's image
// thread at the size asked for. A circle cut by an item layer and a mask
// costs every avatar an offscreen pass and a shader in each frame that
// draws it: a list's rows drew as many in the window's first frame.
class RoundPictureProvider : public QQuickImageProvider
{
public:
    // The side drawn when no size is asked for, and the largest drawn.
    static constexpr int kDefaultPixels = 96;
    static constexpr int kMaxPixels = 512;

    RoundPictureProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The picture at `path` under `folder`, cropped to fill a square of
    // `pixels` and cut to a circle with a soft rim; a null image for a path
    // that leaves the folder or a file that cannot be read.
    static QImage draw(const QString &folder, const QString &path, int pixels);
};

// Adds the provider as "round" to the engine (once).
void installRoundPictures(QQmlEngine *engine);

} // namespace velmor::views
