#include "qml/Velmor/src/card_shadows.h"

#include "qml/Velmor/src/asset_file.h"

#include <QMutexLocker>
#include <QQmlEngine>

namespace velmor::views {

namespace {

const QString kShadows = QStringLiteral(":/qt/qml/Velmor/assets/shadows");

// Each decoded picture is kept: there are two, of about 150 pixels square.
constexpr int kMaxPictures = 8;

} // namespace

CardShadowProvider::CardShadowProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QImage CardShadowProvider::requestImage(const QString &id, QSize *size, const QSize &)
{
    const QImage part = cut(kShadows, id);
    if (size)
        *size = part.size();
    return part;
}

QImage CardShadowProvider::cut(const QString &folder, const QString &id)
{
    const qsizetype slash = id.lastIndexOf(u'/');
    const QStringList numbers = id.mid(slash + 1).split(u',');
    const QString name = id.left(slash);
    if (slash <= 0 || numbers.size() != 4)
        return {};
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = numbers[i].toInt(&ok);
        if (!ok)
            return {};
    }
    const QRect rect(values[0], values[1], values[2], values[3]);
    const QString file = assetFile(folder, name);
    if (rect.isEmpty() || file.isEmpty())
        return {};

    QMutexLocker locked(&m_lock);
    auto found = m_pictures.constFind(file);
    if (found == m_pictures.constEnd()) {
        QImage picture(file);
        if (picture.isNull())
            return {};
        if (m_pictures.size() >= kMaxPictures)
            m_pictures.clear();
        found = m_pictures.insert(file, std::move(picture));
    }
    if (!found->rect().contains(rect))
        return {};
    return found->copy(rect);
}

void installCardShadows(QQmlEngine *engine)
{
    if (engine && !engine->imageProvider(QStringLiteral("shadow")))
        engine->addImageProvider(QStringLiteral("shadow"), new CardShadowProvider);
}

} // namespace velmor::views
