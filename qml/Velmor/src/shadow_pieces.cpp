#include "qml/Velmor/src/shadow_pieces.h"

#include <QDir>
#include <QMutexLocker>
#include <QQmlEngine>

namespace velmor::views {

namespace {

const QString kShadows = QStringLiteral(":/qt/qml/Velmor/assets/shadows");

// Each decoded picture is kept: there are two, of about 150 pixels square.
constexpr int kMaxPictures = 8;

} // namespace

ShadowPieceProvider::ShadowPieceProvider()
    : QQuickImageProvider(QQuickImageProvider::Image)
{
}

QImage ShadowPieceProvider::requestImage(const QString &id, QSize *size, const QSize &)
{
    const QImage cut = piece(kShadows, id);
    if (size)
        *size = cut.size();
    return cut;
}

QImage ShadowPieceProvider::piece(const QString &folder, const QString &id)
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
    const QString file = QDir::cleanPath(folder + u'/' + name);
    if (rect.isEmpty() || !file.startsWith(folder + u'/'))
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

void installShadowPieces(QQmlEngine *engine)
{
    if (engine && !engine->imageProvider(QStringLiteral("shadow")))
        engine->addImageProvider(QStringLiteral("shadow"), new ShadowPieceProvider);
}

} // namespace velmor::views
