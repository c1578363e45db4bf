#include "window_patch.h"

#include "sheet_pictures.h"

#include <QCoreApplication>
#include <QJSValue>
#include <QLinearGradient>
#include <QPainter>
#include <QQmlContext>
#include <QQmlFile>
#include <QQmlListReference>
#include <QQuickWindow>
#include <QRasterWindow>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>

namespace velmor::views {

namespace {

// Without a frame for this long the window's start-up is over; at the
// latest this long after its first frame (an animation in the window may
// never let it go quiet).
constexpr int kQuietMs = 300;
constexpr int kSettleByMs = 2000;

// The patch's surface: painted on the window's thread, no render thread.
class PatchSurface : public QRasterWindow
{
public:
    explicit PatchSurface(const WindowPatch *patch) : m_patch(patch) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (m_patch)
            m_patch->paintSurface(painter, size());
    }

private:
    QPointer<const WindowPatch> m_patch;
};

// A Rectangle's look: its gradient (a Gradient object) or colour, radius
// and border, drawn over `area`.
void paintRectangleLike(QPainter &painter, const QQuickItem *rectangle, const QRectF &area)
{
    QBrush fill(rectangle->property("color").value<QColor>());
    if (QObject *gradient = rectangle->property("gradient").value<QJSValue>().toQObject()) {
        QQmlListReference stops(gradient, "stops");
        const bool horizontal = gradient->property("orientation").toInt() == Qt::Horizontal;
        QLinearGradient linear(area.topLeft(), horizontal ? area.topRight() : area.bottomLeft());
        for (qsizetype i = 0; i < stops.count(); ++i) {
            const QObject *stop = stops.at(i);
            linear.setColorAt(std::clamp(stop->property("position").toReal(), 0.0, 1.0),
                              stop->property("color").value<QColor>());
        }
        fill = QBrush(linear);
    }
    const qreal radius = std::min(rectangle->property("radius").toReal(), std::min(area.width(), area.height()) / 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(area, radius, radius);
    const QObject *border = rectangle->property("border").value<QObject *>();
    const qreal width = border ? border->property("width").toReal() : 0;
    if (width > 0) {
        // Qt Quick draws the border inside the rectangle.
        const qreal half = width / 2;
        painter.setPen(QPen(border->property("color").value<QColor>(), width));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area.adjusted(half, half, -half, -half), std::max(0.0, radius - half),
                                std::max(0.0, radius - half));
    }
}

} // namespace

WindowPatch::WindowPatch(QQuickItem *parent)
    : QQuickItem(parent)
{
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kQuietMs);
    m_settleBy.setSingleShot(true);
    m_settleBy.setInterval(kSettleByMs);
    connect(&m_quiet, &QTimer::timeout, this, &WindowPatch::windowSettled);
    connect(&m_settleBy, &QTimer::timeout, this, &WindowPatch::windowSettled);
}

WindowPatch::~WindowPatch()
{
    disconnect(m_frames);
    disconnect(m_settleFrames);
    if (m_uncovered)
        m_uncovered->removeEventFilter(this);
    // The window it stands in may have deleted it already (a child window
    // is the window's QObject child too).
    delete m_surface.data();
}

void WindowPatch::setContent(QQuickItem *content)
{
    if (content == m_content)
        return;
    if (m_content)
        m_content->setParentItem(nullptr);
    m_content = content;
    if (m_content) {
        m_content->setParentItem(this);
        m_content->setPosition(QPointF(0, 0));
    }
    place();
    emit contentChanged();
}

void WindowPatch::setDetached(bool detached)
{
    if (detached == m_detached)
        return;
    m_detached = detached;
    place();
    emit detachedChanged();
}

QWindow *WindowPatch::surface() const
{
    return m_onSurface ? m_surface.data() : nullptr;
}

void WindowPatch::setSheet(const QUrl &sheet)
{
    if (sheet == m_sheet)
        return;
    m_sheet = sheet;
    m_sheetImage = QImage();
    m_framesFor = QSize();
    place();
    emit sheetChanged();
}

void WindowPatch::setColumns(int columns)
{
    setSheetCount(m_columns, columns);
}

void WindowPatch::setRows(int rows)
{
    setSheetCount(m_rows, rows);
}

void WindowPatch::setSheetCount(int &count, int value)
{
    value = std::max(1, value);
    if (value == count)
        return;
    count = value;
    place();
    emit sheetChanged();
}

void WindowPatch::setFrame(int frame)
{
    if (frame == m_frame)
        return;
    m_frame = frame;
    if (m_onSurface && m_surface)
        m_surface->update();
    emit frameChanged();
}

void WindowPatch::setBackdrop(QQuickItem *backdrop)
{
    if (backdrop == m_backdrop)
        return;
    m_backdrop = backdrop;
    if (m_onSurface && m_surface)
        m_surface->update();
    emit backdropChanged();
}

// Decoded and scaled once, off the window's thread (the sidebar's sheet is
// 1092 pixels square): the surface then copies a frame's pixels, as drawn.
void WindowPatch::prepareSheet()
{
    const QQuickWindow *host = window();
    const qreal ratio = host ? host->effectiveDevicePixelRatio() : 1;
    const QSize want = (QSizeF(width() * m_columns, height() * m_rows) * ratio).toSize();
    if (m_preparing || want.isEmpty() || m_sheet.isEmpty() || (m_framesFor == want && !m_sheetImage.isNull()))
        return;
    const QQmlContext *context = qmlContext(this);
    const QString file = QQmlFile::urlToLocalFileOrQrc(context ? context->resolvedUrl(m_sheet) : m_sheet);
    m_preparing = true;
    QThreadPool::globalInstance()->start([self = QPointer<WindowPatch>(this), file, want] {
        const QImage frames = scaledSheet(file, want);
        // The patch is only looked at on its own thread.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [self, frames, want] {
            if (!self)
                return;
            self->m_preparing = false;
            if (frames.isNull()) {
                qWarning("WindowPatch: the sheet %s could not be read", qPrintable(self->m_sheet.toString()));
                return;
            }
            self->m_sheetImage = frames;
            self->m_framesFor = want;
            self->place();
        }, Qt::QueuedConnection);
    });
}

void WindowPatch::paintSurface(QPainter &painter, const QSizeF &size) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.fillRect(QRectF(QPointF(0, 0), size), Qt::black);
    if (m_backdrop) {
        const QRectF area = m_backdrop->mapRectToItem(this, QRectF(0, 0, m_backdrop->width(), m_backdrop->height()));
        paintRectangleLike(painter, m_backdrop, area.translated(m_offset));
    }
    if (m_sheetImage.isNull())
        return;
    const qreal w = qreal(m_sheetImage.width()) / m_columns;
    const qreal h = qreal(m_sheetImage.height()) / m_rows;
    const int frame = std::clamp(m_frame, 0, m_columns * m_rows - 1);
    const QRectF source((frame % m_columns) * w, (frame / m_columns) * h, w, h);
    painter.drawImage(QRectF(m_offset, QSizeF(width(), height())), m_sheetImage, source);
}

void WindowPatch::componentComplete()
{
    QQuickItem::componentComplete();
    followWindow();
    place();
}

void WindowPatch::itemChange(ItemChange change, const ItemChangeData &data)
{
    QQuickItem::itemChange(change, data);
    if (change == ItemSceneChange) {
        followWindow();
        place();
    } else if (change == ItemVisibleHasChanged) {
        place();
    }
}

// Every frame of the window (and only then) may have moved the item or put
// something over it; an idle window costs nothing here.
void WindowPatch::followWindow()
{
    if (m_followed == window())
        return;
    disconnect(m_frames);
    disconnect(m_settleFrames);
    m_followed = window();
    m_windowSettled = false;
    m_quiet.stop();
    m_settleBy.stop();
    if (m_followed) {
        m_frames = connect(m_followed, &QQuickWindow::afterAnimating, this, &WindowPatch::place);
        // Swapped on the render thread: heard on this one.
        m_settleFrames = connect(m_followed, &QQuickWindow::frameSwapped, this, &WindowPatch::windowDrew,
                                 Qt::QueuedConnection);
    }
}

void WindowPatch::windowDrew()
{
    if (m_windowSettled)
        return;
    m_quiet.start();
    if (!m_settleBy.isActive())
        m_settleBy.start();
}

void WindowPatch::windowSettled()
{
    m_quiet.stop();
    m_settleBy.stop();
    disconnect(m_settleFrames);
    m_windowSettled = true;
    place();
}

// Whether `item` or anything in it paints over `area` (scene coordinates).
// Items that only take input (drag layers, mouse areas) paint nothing.
static bool paintsOver(const QQuickItem *item, const QRectF &area)
{
    if (!item->isVisible() || item->opacity() <= 0)
        return false;
    const QRectF rect = item->mapRectToScene(item->boundingRect());
    if (item->flags().testFlag(QQuickItem::ItemHasContents) && rect.intersects(area))
        return true;
    if (item->clip() && !rect.intersects(area))
        return false;
    const QList<QQuickItem *> children = item->childItems();
    return std::any_of(children.begin(), children.end(),
                       [&area](const QQuickItem *child) { return paintsOver(child, area); });
}

// The surface can show the item only as the window would: whole, unfaded.
bool WindowPatch::drawnAsIs() const
{
    const QRectF mine = mapRectToScene(boundingRect());
    for (const QQuickItem *item = this; item; item = item->parentItem()) {
        if (item->opacity() < 1)
            return false;
        if (item != this && item->clip() && !item->mapRectToScene(item->boundingRect()).contains(mine))
            return false;
    }
    return true;
}

bool WindowPatch::covered() const
{
    const QRectF mine = mapRectToScene(boundingRect());
    // Drawn after this item: the later siblings (or those with a higher z)
    // of the item and of each of its ancestors. The outermost first: that is
    // where popups and notices over the whole window stand, and one of them
    // settles it without a walk through the view under it.
    QList<const QQuickItem *> chain;
    for (const QQuickItem *item = this; item->parentItem(); item = item->parentItem())
        chain.prepend(item);
    for (const QQuickItem *item : std::as_const(chain)) {
        const QList<QQuickItem *> siblings = item->parentItem()->childItems();
        const int at = siblings.indexOf(const_cast<QQuickItem *>(item));
        for (int i = 0; i < siblings.size(); ++i) {
            const QQuickItem *other = siblings.at(i);
            if (other == item || other->z() < item->z() || (other->z() == item->z() && i < at))
                continue;
            if (paintsOver(other, mine))
                return true;
        }
    }
    return false;
}

// The software scene graph (no OpenGL, e.g. the offscreen platform) repaints
// only what changed, so it has nothing to gain from a surface.
static bool redrawsWholeWindow(QQuickWindow *window)
{
    return window->rendererInterface()->graphicsApi() != QSGRendererInterface::Software;
}

void WindowPatch::place()
{
    QQuickWindow *host = window();
    const bool shown = m_content && host && isComponentComplete() && isVisible() && width() > 0 && height() > 0;
    const bool wholeWindow = shown && redrawsWholeWindow(host);
    const bool wanted = wholeWindow && m_detached && m_windowSettled;
    if (wanted)
        prepareSheet();
    const bool sheetReady = wanted && !m_sheetImage.isNull()
        && m_framesFor == (QSizeF(width() * m_columns, height() * m_rows) * host->effectiveDevicePixelRatio()).toSize();
    const bool onSurface = sheetReady && drawnAsIs() && !covered();
    const bool playable = onSurface || (shown && !wholeWindow && !covered());
    if (onSurface) {
        if (!m_surface) {
            m_surface = new PatchSurface(this);
            m_surface->setFlags(Qt::Widget | Qt::FramelessWindowHint | Qt::WindowTransparentForInput
                                | Qt::WindowDoesNotAcceptFocus);
        }
        if (m_surface->parent() != host)
            m_surface->setParent(host);
        // The surface covers the whole pixels the item touches; the picture
        // keeps the item's place to the fraction of a pixel, so it is drawn
        // exactly where the window would draw it.
        const QRectF exact(mapToScene(QPointF(0, 0)), size());
        const QRect rect = exact.toAlignedRect();
        m_offset = exact.topLeft() - QPointF(rect.topLeft());
        if (m_surface->geometry() != rect)
            m_surface->setGeometry(rect);
        // Out of the window's scene: its frames cost the window nothing.
        if (m_content->parentItem())
            m_content->setParentItem(nullptr);
        if (!m_surface->isVisible())
            m_surface->setVisible(true);
        // The window drew a frame: what lies under the item may have changed.
        m_surface->update();
    } else {
        if (m_content && m_content->parentItem() != this) {
            m_content->setParentItem(this);
            m_content->setPosition(QPointF(0, 0));
        }
        if (m_surface && m_surface->isVisible()) {
            m_surface->setVisible(false);
            answerNextExposeWithFrame(host);
        }
    }
    if (onSurface != m_onSurface) {
        m_onSurface = onSurface;
        emit onSurfaceChanged();
    }
    if (playable != m_playable) {
        m_playable = playable;
        emit playableChanged();
    }
}

// The windowing system asks the window to paint the part the hidden surface
// uncovered. The render loop answers an expose with a frame for which the
// window's thread waits until it is drawn, after the frame already being
// drawn (when a popup has just covered the item, the popup's first): on
// software OpenGL 50-70 ms of a frozen window. Every frame paints the whole
// window, so an ordinary one, asked for once the frame being drawn is out,
// answers it as well without holding the thread.
void WindowPatch::answerNextExposeWithFrame(QQuickWindow *host)
{
    if (!host || !host->isExposed() || m_uncovered == host)
        return;
    if (m_uncovered)
        m_uncovered->removeEventFilter(this);
    m_uncovered = host;
    host->installEventFilter(this);
    // A windowing system that sends no expose for it: stop watching.
    QTimer::singleShot(1000, this, [this, host = QPointer<QQuickWindow>(host)] {
        if (host && m_uncovered == host) {
            host->removeEventFilter(this);
            m_uncovered = nullptr;
        }
    });
}

bool WindowPatch::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && m_uncovered && watched == m_uncovered) {
        QQuickWindow *host = m_uncovered;
        host->removeEventFilter(this);
        m_uncovered = nullptr;
        // Only a part uncovered: the window stays shown. An expose that
        // hides it goes through. The frame is asked for once the one being
        // drawn is out (the thread would wait for it otherwise), or soon
        // when none is.
        if (host->isExposed()) {
            auto asked = std::make_shared<bool>(false);
            auto ask = [host = QPointer<QQuickWindow>(host), asked] {
                if (host && !std::exchange(*asked, true))
                    host->update();
            };
            connect(host, &QQuickWindow::frameSwapped, this, ask,
                    Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
            QTimer::singleShot(100, this, ask);
            return true;
        }
    }
    return QQuickItem::eventFilter(watched, event);
}

} // namespace velmor::views
