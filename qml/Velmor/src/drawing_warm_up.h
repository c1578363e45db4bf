#pragma once

#include <QAtomicInteger>
#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QQuickItem>
#include <QTimer>
#include <QtQml/qqmlregistration.h>

class QQmlComponent;
class QQuickWindow;

namespace velmor::views {

// A few items of the kinds a view about to be built will show, drawn once
// out of sight in a frame of their own, right after the window's first
// frame. Software OpenGL prepares each kind of drawing the first time a
// frame uses it (a program compiled for each material and state, a glyph
// cache for each face): 25-30 ms that the first frame of a large view paid
// once the view was built. Drawn here, the render thread pays them while the
// window's thread builds the view.
//
// The view's build waits for `done`: a frame asked for while the render
// thread draws the samples would hold the window's thread until they are
// drawn. `done` comes once the samples' frame is synchronised, at once when
// the window draws in software, and without the samples when the window has
// drawn no frame within kGiveUpMs of the item's making. The window's update
// requests are held until the samples' frame is drawn, or kGiveUpMs at most,
// and a frame is asked for after.
//
// The `samples` are made only then (made with the window, even hidden, they
// lengthened its first frame, which the window's thread waits for) and
// deleted once their frame is drawn.
class DrawingWarmUp : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool active READ active WRITE setActive NOTIFY activeChanged)
    Q_PROPERTY(QQmlComponent *samples READ samples WRITE setSamples NOTIFY samplesChanged)
    Q_PROPERTY(bool done READ done NOTIFY doneChanged)

public:
    static constexpr int kGiveUpMs = 400;

    explicit DrawingWarmUp(QQuickItem *parent = nullptr);

    bool active() const { return m_active; }
    void setActive(bool active);
    bool done() const { return m_done; }
    QQmlComponent *samples() const { return m_samples; }
    void setSamples(QQmlComponent *samples);

signals:
    void activeChanged();
    void doneChanged();
    void samplesChanged();

protected:
    void componentComplete() override;
    void itemChange(ItemChange change, const ItemChangeData &data) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void watchWindow(QQuickWindow *window);
    void windowDrew();
    void showSamples();
    void samplesDrawn();
    void finish();

    bool m_active = false;
    bool m_done = false;
    bool m_windowDrew = false;
    bool m_shown = false;
    // The samples' own update request, let through while the window's
    // others are held.
    bool m_requesting = false;
    bool m_ended = false;
    // Set on the render thread, read on the window's.
    QAtomicInteger<bool> m_synced = false;
    QPointer<QQuickWindow> m_window;
    QPointer<QQmlComponent> m_samples;
    QPointer<QQuickItem> m_made;
    QMetaObject::Connection m_firstFrame;
    QList<QMetaObject::Connection> m_frames;
    QTimer m_giveUp;
};

} // namespace velmor::views
