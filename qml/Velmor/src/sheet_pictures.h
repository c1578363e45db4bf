#pragma once

#include <QImage>
#include <QImageReader>
#include <QQuickImageProvider>
#include <QSize>
#include <QString>

class QQmlEngine;

namespace velmor::views {

// A sheet of frames (the animated logo's) read from `file` and scaled
// smoothly to `pixels` (its natural size when not valid), premultiplied.
// WindowPatch paints its surface from this picture; the window draws the
// same sheet through SheetPictureProvider, so both show the same pixels.
inline QImage scaledSheet(const QString &file, const QSize &pixels)
{
    QImage sheet = QImageReader(file).read();
    if (sheet.isNull())
        return sheet;
    sheet.convertTo(QImage::Format_ARGB32_Premultiplied);
    return pixels.isValid() && pixels != sheet.size()
        ? sheet.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        : sheet;
}

// The module's frame sheets at the size asked for (an Image's sourceSize
// times the screen's pixel ratio), as "image://sheet/<path under the
// module's assets folder>", made on Qt's image thread. An Image of the
// file itself holds the whole sheet (1092 pixels square for the sidebar's
// logo, 4.8 MB) as a picture and again as a texture, for frames drawn from
// a quarter of its pixels.
class SheetPictureProvider : public QQuickImageProvider
{
public:
    SheetPictureProvider();
    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // The sheet at `path` under `folder` at `pixels`; a null image for a
    // path that leaves the folder or a file that cannot be read.
    static QImage draw(const QString &folder, const QString &path, const QSize &pixels);
};

// Adds the provider as "sheet" to the engine (once).
void installSheetPictures(QQmlEngine *engine);

} // namespace velmor::views
