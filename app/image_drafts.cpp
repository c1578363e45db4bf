#include "app/image_drafts.h"

#include "store/private_media.h"

#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QMimeData>
#include <QUrl>
#include <QUuid>

#include <cerrno>

namespace velmor::app {

namespace {

QString newUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Pictures up to this size on both sides are decoded to be checked.
constexpr int kDecodeHereSide = 1280;

QVariantMap draftOf(const QString &path, const QString &name, QSize size)
{
    return {{QStringLiteral("ok"), true},
            {QStringLiteral("url"), QUrl::fromLocalFile(path).toString()},
            {QStringLiteral("name"), name},
            {QStringLiteral("width"), size.width()},
            {QStringLiteral("height"), size.height()}};
}

QVariantMap failure(const QString &error = QString())
{
    QVariantMap map{{QStringLiteral("ok"), false}};
    if (!error.isEmpty())
        map.insert(QStringLiteral("error"), error);
    return map;
}

QVariantMap diskFull()
{
    QVariantMap map = failure(QStringLiteral("磁盘已满，无法保存粘贴的图片"));
    map.insert(QStringLiteral("problem"), QStringLiteral("diskFull"));
    return map;
}

} // namespace

QVariantMap clipboardImageDraft(const QClipboard *clipboard)
{
    if (!clipboard)
        return failure();
    // The clipboard's data is asked for anew at each question: under X11
    // each one waits on the owner of the selection with the event loop
    // running, and a pointer kept from before may name data the clipboard
    // has since replaced and deleted.
    const QMimeData *data = clipboard->mimeData();
    const bool hasUrls = data && data->hasUrls();
    data = hasUrls ? clipboard->mimeData() : nullptr;
    const QList<QUrl> urls = data ? data->urls() : QList<QUrl>();

    QImage image;
    QString sourceName;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        QImageReader reader(url.toLocalFile());
        reader.setAutoTransform(true);
        if (!reader.canRead())
            continue;
        image = reader.read();
        if (!image.isNull()) {
            sourceName = QFileInfo(url.toLocalFile()).fileName();
            break;
        }
    }
    if (image.isNull())
        image = clipboard->image();
    if (image.isNull())
        return failure();

    const QString name = sourceName.isEmpty() ? QStringLiteral("clipboard-%1.png").arg(newUuid()) : sourceName;
    // Decoded pixels the user may not have sent yet: in the profile's own
    // folder, readable by the user alone, deleted once the message is stored.
    QFile file;
    const QString path = velmor::store::openPrivateMedia(file, QStringLiteral("velmor-draft-%1.png").arg(newUuid()));
    if (path.isEmpty())
        return errno == ENOSPC ? diskFull() : failure(QStringLiteral("无法读取剪贴板图片"));
    return writeImageDraft(image, name, file, path);
}

QVariantMap writeImageDraft(const QImage &image, const QString &name, QFile &file, const QString &path)
{
    const bool saved = image.save(&file, "PNG") && file.flush();
    // The device's own error: a full disk is told as such, not as a picture
    // that could not be read.
    const bool full = !saved && file.error() == QFileDevice::ResourceError;
    file.close();
    if (!saved) {
        velmor::store::removePrivateMedia(path);
        return full ? diskFull() : failure(QStringLiteral("无法读取剪贴板图片"));
    }
    return draftOf(path, name, image.size());
}

QVariantMap localImageDraft(const QString &url)
{
    const QUrl asUrl(url);
    const QString path = asUrl.isLocalFile() ? asUrl.toLocalFile() : url;
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead())
        return failure(QStringLiteral("不支持此图片格式或文件已损坏"));
    // A picture larger than is ever sent (a phone's photo) is not decoded
    // here, on the GUI thread: its header tells the size, and the sending
    // job decodes it at the size it goes out at. A smaller one is read
    // whole, which is quick and refuses a damaged file at once.
    const QSize stored = reader.size();
    if (stored.width() > kDecodeHereSide || stored.height() > kDecodeHereSide) {
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        return draftOf(path, QFileInfo(path).fileName(), turned ? stored.transposed() : stored);
    }
    const QImage image = reader.read();
    if (image.isNull())
        return failure(QStringLiteral("无法读取所选图片"));
    return draftOf(path, QFileInfo(path).fileName(), image.size());
}

} // namespace velmor::app
