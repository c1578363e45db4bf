#include "chat/image_shrink.h"

#include "chat/png_reduce.h"

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

QImage readForSending(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Decoded straight at the largest size that is ever sent: a camera's
    // full-size picture would pass the reader's allocation limit (and cost
    // hundreds of megabytes) only to be scaled down at once.
    const QSize stored = reader.size();
    if (!stored.isValid() || (stored.width() <= kLargestSentSide && stored.height() <= kLargestSentSide))
        return reader.read();
    const QSize target = stored.scaled(kLargestSentSide, kLargestSentSide, Qt::KeepAspectRatio);
    // Qt reads a 16-bit PNG whole, whatever scaled size is asked for.
    const QImage::Format decoded = reader.imageFormat();
    const bool deep = decoded == QImage::Format_RGBX64 || decoded == QImage::Format_RGBA64
                      || decoded == QImage::Format_RGBA64_Premultiplied || decoded == QImage::Format_Grayscale16;
    if (reader.format() == "png" && deep)
        return readPngReduced(path, target);
    reader.setScaledSize(target);
    return reader.read();
}

ShrunkImage shrinkImageFile(const QString &path, qsizetype maxBytes)
{
    const QImage image = readForSending(path);
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
    int maxDim = kLargestSentSide;
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
