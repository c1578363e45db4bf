#include "drawing_warm_up.h"

#include <QCoreApplication>
#include <QEvent>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQuickWindow>
#include <QSGRendererInterface>

namespace velmor::views {

DrawingWarmUp::DrawingWarmUp(QQuickItem *parent)
    : QQuickItem(parent)
{
    m_giveUp.setSingleShot(true);
    m_giveUp.setInterval(kGiveUpMs);
    connect(&m_giveUp, &QTimer::timeout, this, &DrawingWarmUp::finish);
}

void DrawingWarmUp::setActive(bool active)
{
    if (m_active == active)
        return;
    m_active = active;
    emit activeChanged();
    if (!isComponentComplete())
        return;
    if (m_active && m_windowDrew)
        showSamples();
    else if (m_active && !m_done)
        m_giveUp.start();
}

void DrawingWarmUp::setSamples(QQmlComponent *samples)
{
    if (m_samples == samples)
        return;
    m_samples = samples;
    emit samplesChanged();
}

void DrawingWarmUp::componentComplete()
{
    QQuickItem::componentComplete();
    watchWindow(window());
    if (m_active)
        m_giveUp.start();
}

void DrawingWarmUp::itemChange(ItemChange change, const ItemChangeData &data)
{
    QQuickItem::itemChange(change, data);
    if (change == ItemSceneChange && isComponentComplete())
        watchWindow(data.window);
}

bool DrawingWarmUp::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::UpdateRequest && !m_requesting)
        return true;
    return QQuickItem::eventFilter(watched, event);
}

void DrawingWarmUp::watchWindow(QQuickWindow *window)
{
    if (window == m_window || m_shown)
        return;
    disconnect(m_firstFrame);
    m_window = window;
    if (!window || m_done)
        return;
    // Queued: frames are reported on the render thread.
    m_firstFrame = connect(window, &QQuickWindow::frameSwapped, this, &DrawingWarmUp::windowDrew,
                           Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
}

void DrawingWarmUp::windowDrew()
{
    m_windowDrew = true;
    if (m_active)
        showSamples();
}

void DrawingWarmUp::showSamples()
{
    QQuickWindow *window = m_window;
    if (m_done || m_shown || !window)
        return;
    // Drawn in software pixel by pixel, there is nothing to prepare.
    if (!m_samples || window->rendererInterface()->graphicsApi() == QSGRendererInterface::Software) {
        finish();
        return;
    }
    QObject *made = m_samples->beginCreate(qmlContext(this));
    m_made = qobject_cast<QQuickItem *>(made);
    if (!m_made) {
        delete made;
        finish();
        return;
    }
    m_made->setParentItem(this);
    m_samples->completeCreate();
    m_giveUp.stop();
    // On the render thread: a synchronisation runs while the window's thread
    // waits, so the first one from here on has the samples, and the frame
    // swapped after it shows them.
    m_frames.append(connect(
        window, &QQuickWindow::afterSynchronizing, this, [this] { m_synced.storeRelease(true); },
        Qt::DirectConnection));
    m_frames.append(connect(
        window, &QQuickWindow::frameSwapped, this,
        [this] {
            if (m_synced.loadAcquire())
                QMetaObject::invokeMethod(this, &DrawingWarmUp::samplesDrawn, Qt::QueuedConnection);
        },
        Qt::DirectConnection));
    m_shown = true;
    // Synchronised now, not when the update request's timer fires (the
    // window's thread may be busy then). Further requests wait until the
    // samples are drawn: their synchronisation would hold the window's
    // thread until then.
    window->installEventFilter(this);
    // Not for longer than this, should the frame never be drawn.
    QTimer::singleShot(kGiveUpMs, this, &DrawingWarmUp::samplesDrawn);
    m_requesting = true;
    QEvent request(QEvent::UpdateRequest);
    QCoreApplication::sendEvent(window, &request);
    m_requesting = false;
    // With a render thread the synchronisation is done by now; otherwise it
    // is reported when it comes.
    if (m_synced.loadAcquire())
        finish();
    else
        m_frames.append(connect(window, &QQuickWindow::afterSynchronizing, this, &DrawingWarmUp::finish,
                                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection)));
}

void DrawingWarmUp::samplesDrawn()
{
    if (m_ended)
        return;
    m_ended = true;
    for (const QMetaObject::Connection &connection : std::as_const(m_frames))
        disconnect(connection);
    m_frames.clear();
    delete m_made.data();
    QQuickWindow *window = m_window;
    if (!window)
        return;
    window->removeEventFilter(this);
    // Whatever asked for a frame meanwhile gets one.
    window->update();
}

void DrawingWarmUp::finish()
{
    if (m_done)
        return;
    m_done = true;
    m_giveUp.stop();
    emit doneChanged();
}

} // namespace velmor::views
