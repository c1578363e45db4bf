#pragma once

#include <QCache>
#include <QImage>
#include <QMutex>
#include <QQuickImageProvider>

class QQmlEngine;

namespace velmor::views {

// Pictures of colour emoji for text that shows emoji inline, served as
// "image://emoji/<pixels>/<code points in hex, joined by '-'>" (for example
// "image://emoji/20/2764-fe0f"). Each emoji is drawn from the colour font
// once per size and kept: Qt decodes a colour glyph's embedded picture every
// time it measures the glyph, so text that names the colour face costs a
// picture decoding per emoji per layout, while text that holds these
// pictures measures like plain text.
class EmojiImageProvider : public QQuickImageProvider
{
public:
    // Sizes outside this range, and ids of more code points than an emoji
    // sequence has, are refused (an empty image): a peer's text cannot make
    // the window draw huge pictures or long strings.
    static constexpr int kMinPixels = 6;
    static constexpr int kMaxPixels = 160;
    static constexpr int kMaxCodePoints = 12;

    explicit EmojiImageProvider(const QString &family);

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // How many pictures were drawn from the font (not served from the cache).
    int drawnCount() const;

private:
    QImage draw(const QString &emoji, int pixels) const;

    const QString m_family;
    mutable QMutex m_mutex;
    QCache<QString, QImage> m_cache; // cost: bytes
    int m_drawn = 0;
};

// Adds the provider as "emoji" to the engine (once).
void installEmojiImages(QQmlEngine *engine, const QString &family = QStringLiteral("Noto Color Emoji"));

} // namespace velmor::views
