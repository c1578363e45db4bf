#include "qml/Velmor/src/round_pictures.h"

#include "qml/Velmor/src/asset_file.h"

#include <QImageReader>
#include <QPainter>
#include <QQmlEngine>

namespace velmor::views {

namespace {

// Where the module's documents find their pictures ("../assets/").
const QString kAssets = QStringLiteral(":/qt/qml/Velmor/assets");

} // namespace

RoundPictureProvider::RoundPictureProvider()
    : QQuickImageProvider(QQuickImageProvider::Image, QQmlImageProviderBase::ForceAsynchronousImageLoading)
{
}

QImage RoundPictureProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    const int asked = qMax(requestedSize.width(), requestedSize.height());
    const QImage picture = draw(kAssets, id, asked > 0 ? qMin(asked, kMaxPixels) : kDefaultPixels);
    if (size)
        *size = picture.size();
    return picture;
}

QImage RoundPictureProvider::draw(const QString &folder, const QString &path, int pixels)
{
    const QString file = assetFile(folder, path);
    if (pixels <= 0 || file.isEmpty())
        return {};
    QImageReader reader(file);
    const QSize natural = reader.size();
    if (natural.isValid())
        reader.setScaledSize(natural.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding));
    const QImage picture = reader.read();
    if (picture.isNull())
        return {};
    QImage round(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    round.fill(Qt::transparent);
    QPainter painter(&round);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QBrush brush(picture);
    brush.setTransform(QTransform::fromTranslate((pixels - picture.width()) / 2.0, (pixels - picture.height()) / 2.0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(brush);
    painter.drawEllipse(QRectF(0, 0, pixels, pixels));
    return round;
}

void installRoundPictures(QQmlEngine *engine)
{
    if (engine && !engine->imageProvider(QStringLiteral("round")))
        engine->addImageProvider(QStringLiteral("round"), new RoundPictureProvider);
}

} // namespace velmor::views
