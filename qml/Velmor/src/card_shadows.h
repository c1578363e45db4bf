#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>

class QQmlEngine;

namespace velmor::views {

// Pieces of the cards' pre-drawn shadow pictures, served as
// "image://shadow/<picture>/<x>,<y>,<width>,<height>" (a picture under the
// module's assets/shadows folder and a rectangle of it). A card's shadow is
// drawn as eight such pieces: as eight images with a clip rectangle each,
// every piece decoded the whole picture again, sixteen decodes on the
// window's thread while the home view was built. Here each picture is
// decoded once and the pieces are cut from it.
class CardShadowProvider : public QQuickImageProvider
{
public:
    CardShadowProvider();

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The part `id` names, cut from a picture under `folder`; a null image
    // for a malformed id, a picture outside the folder or that cannot be
    // read, or a rectangle that does not lie inside the picture.
    QImage cut(const QString &folder, const QString &id);

private:
    QMutex m_lock;
    QHash<QString, QImage> m_pictures;
};

// Adds the provider as "shadow" to the engine (once).
void installCardShadows(QQmlEngine *engine);

} // namespace velmor::views
