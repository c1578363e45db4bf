#include "qml/Velmor/src/sheet_pictures.h"

#include "qml/Velmor/src/asset_file.h"

#include <QQmlEngine>

namespace velmor::views {

SheetPictureProvider::SheetPictureProvider()
    : QQuickImageProvider(QQuickImageProvider::Image, QQmlImageProviderBase::ForceAsynchronousImageLoading)
{
}

QImage SheetPictureProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const QImage sheet = draw(QStringLiteral(":/qt/qml/Velmor/assets"), id, requestedSize);
    if (size)
        *size = sheet.size();
    return sheet;
}

QImage SheetPictureProvider::draw(const QString &folder, const QString &path, const QSize &pixels)
{
    const QString file = assetFile(folder, path);
    return file.isEmpty() ? QImage() : scaledSheet(file, pixels);
}

void installSheetPictures(QQmlEngine *engine)
{
    if (engine && !engine->imageProvider(QStringLiteral("sheet")))
        engine->addImageProvider(QStringLiteral("sheet"), new SheetPictureProvider);
}

} // namespace velmor::views
