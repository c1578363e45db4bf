#include "chat/image_shrink.h"

#include <QBuffer>
#include <QImageReader>

namespace velmor::chat {

namespace {

QByteArray encodeJpeg(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", quality))
        return {};
    return bytes;
}

} // namespace

ShrunkImage shrinkImageFile(const QString &path, qsizetype maxBytes)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (image.isNull())
        return ShrunkImage{{}, 0, 0, QStringLiteral("invalid_image")};
    return shrinkImage(image, maxBytes);
}

ShrunkImage shrinkImage(const QImage &image, qsizetype maxBytes)
{
    ShrunkImage best;
    if (image.isNull()) {
        best.error = QStringLiteral("invalid_image");
        return best;
    }
    int maxDim = 1280;
    for (int pass = 0; pass < 6; ++pass, maxDim = maxDim * 3 / 4) {
        // Always scaled from the picture as read, never from the last try.
        const QImage candidate = (image.width() <= maxDim && image.height() <= maxDim)
                                     ? image
                                     : image.scaled(maxDim, maxDim, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QByteArray bytes;
        for (int quality = 85; quality >= 25; quality -= 12) {
            bytes = encodeJpeg(candidate, quality);
            if (bytes.isEmpty() || bytes.size() <= maxBytes)
                break;
        }
        if (!bytes.isEmpty()) {
            best.jpeg = bytes;
            best.width = candidate.width();
            best.height = candidate.height();
        }
        if (bytes.isEmpty() || bytes.size() <= maxBytes)
            break;
    }
    if (best.jpeg.isEmpty() || best.jpeg.size() > maxBytes)
        return ShrunkImage{{}, 0, 0, QStringLiteral("image_too_large")};
    return best;
}

} // namespace velmor::chat
