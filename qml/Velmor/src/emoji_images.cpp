#include "emoji_images.h"

#include <QFont>
#include <QFontMetricsF>
#include <QMutexLocker>
#include <QPainter>
#include <QQmlEngine>

namespace velmor::views {

namespace {

constexpr int kCacheBytes = 16 * 1024 * 1024;

// "20/1f600-fe0f" -> pixels 20 and the text of the sequence; false for
// anything else.
bool parseId(const QString &id, int *pixels, QString *emoji)
{
    const qsizetype slash = id.indexOf(u'/');
    if (slash <= 0)
        return false;
    bool ok = false;
    *pixels = id.left(slash).toInt(&ok);
    if (!ok || *pixels < EmojiImageProvider::kMinPixels || *pixels > EmojiImageProvider::kMaxPixels)
        return false;
    const QStringList codes = id.mid(slash + 1).split(u'-');
    if (codes.isEmpty() || codes.size() > EmojiImageProvider::kMaxCodePoints)
        return false;
    emoji->clear();
    for (const QString &code : codes) {
        if (code.isEmpty() || code.size() > 6)
            return false;
        const uint value = code.toUInt(&ok, 16);
        if (!ok || value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return false;
        const char32_t point = value;
        emoji->append(QString::fromUcs4(&point, 1));
    }
    return true;
}

} // namespace

EmojiImageProvider::EmojiImageProvider(const QString &family)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_family(family)
    , m_cache(kCacheBytes)
{
}

int EmojiImageProvider::drawnCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_drawn;
}

QImage EmojiImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    Q_UNUSED(requestedSize)
    int pixels = 0;
    QString emoji;
    if (!parseId(id, &pixels, &emoji)) {
        if (size)
            *size = QSize();
        return QImage();
    }
    const QString key = QString::number(pixels) + u'/' + emoji;
    {
        QMutexLocker lock(&m_mutex);
        if (const QImage *kept = m_cache.object(key)) {
            if (size)
                *size = kept->size();
            return *kept;
        }
    }
    QImage image = draw(emoji, pixels);
    {
        QMutexLocker lock(&m_mutex);
        ++m_drawn;
        m_cache.insert(key, new QImage(image), qMax<qsizetype>(1, image.sizeInBytes()));
    }
    if (size)
        *size = image.size();
    return image;
}

QImage EmojiImageProvider::draw(const QString &emoji, int pixels) const
{
    // The colour font holds its glyphs as pictures of one large size; Qt
    // scales them to the pixel size asked. The sequence is drawn at that
    // size and then fitted into a square of `pixels` (a sequence the font
    // does not join shows its parts side by side, smaller).
    QFont font(m_family);
    font.setPixelSize(pixels);
    const QFontMetricsF metrics(font);
    const qreal width = qMax<qreal>(1, metrics.horizontalAdvance(emoji));
    const qreal height = qMax<qreal>(1, metrics.height());
    QImage drawn(QSize(qCeil(width), qCeil(height)), QImage::Format_ARGB32_Premultiplied);
    drawn.fill(Qt::transparent);
    {
        QPainter painter(&drawn);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setFont(font);
        painter.drawText(QRectF(0, 0, width, height), Qt::AlignCenter, emoji);
    }
    QImage square(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    const QImage fitted = drawn.scaled(pixels, pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&square);
    painter.drawImage(QPointF((pixels - fitted.width()) / 2.0, (pixels - fitted.height()) / 2.0), fitted);
    return square;
}

void installEmojiImages(QQmlEngine *engine, const QString &family)
{
    if (engine && !engine->imageProvider(QStringLiteral("emoji")))
        engine->addImageProvider(QStringLiteral("emoji"), new EmojiImageProvider(family));
}

} // namespace velmor::views
