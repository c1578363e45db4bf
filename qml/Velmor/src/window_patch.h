#pragma once

#include <QPointer>
#include <QTimer>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>


class QQuickWindow;

namespace velmor::views {

// An item whose `content` is drawn in a small native window of its own, a
// child of the item's window laid exactly over the item. Content that changes
// on every frame (the animated logo) then redraws only that small surface:
// without it, each of its frames redraws the whole window, which software
// OpenGL pays for in full, pixel by pixel, sixty times a second.
//
// The surface stands above everything else of the window, so the content goes
// back into the window's own scene while anything drawn after the item
// overlaps it (an open popup, a notice over the window), while an ancestor
// fades it or cuts it off, and while `detached` is false. The surface takes
// no input: clicks and drags reach the window below. It is opaque, so the
// content must paint every pixel of it (what the window shows under the
// item, also in the part of a pixel around an item placed between pixels).
// The patch places its content at its own top left corner. The surface is
// first made once the window has drawn and then gone quiet: the window's
// thread waits for a new surface's first frame (a new OpenGL context, the
// content drawn: 30-40 ms on software OpenGL), which would add to whatever
// the window's start-up still does. The software
// scene graph repaints only what changed: there the content stays in the
// scene.
class WindowPatch : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem *content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(bool detached READ detached WRITE setDetached NOTIFY detachedChanged)
    // Whether the content is on the surface right now.
    Q_PROPERTY(bool onSurface READ onSurface NOTIFY onSurfaceChanged)
    // Whether the content can change frame by frame for little: it is on
    // its surface, or the window repaints only what changed and nothing is
    // drawn over the item. Otherwise every change of it redraws the whole
    // window (under a full-window popup, sixty times a second for an
    // animation nobody sees): animations of the content wait for it.
    Q_PROPERTY(bool playable READ playable NOTIFY playableChanged)

public:
    explicit WindowPatch(QQuickItem *parent = nullptr);
    ~WindowPatch() override;

    QQuickItem *content() const { return m_content; }
    void setContent(QQuickItem *content);
    bool detached() const { return m_detached; }
    void setDetached(bool detached);
    bool onSurface() const { return m_onSurface; }
    bool playable() const { return m_playable; }

signals:
    void contentChanged();
    void detachedChanged();
    void onSurfaceChanged();
    void playableChanged();

protected:
    void itemChange(ItemChange change, const ItemChangeData &data) override;
    void componentComplete() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Puts the content where it belongs now and the surface over the item.
    void place();
    // Something drawn after this item overlaps it.
    bool covered() const;
    // Neither faded nor cut by an ancestor.
    bool drawnAsIs() const;
    void followWindow();
    // Hiding the surface uncovers its part of `host`: the expose that
    // follows is answered with an ordinary frame.
    void answerNextExposeWithFrame(QQuickWindow *host);
    // A frame of the followed window: the surface waits for a quiet one.
    void windowDrew();
    void windowSettled();

    QPointer<QQuickItem> m_content;
    bool m_detached = true;
    bool m_onSurface = false;
    bool m_playable = false;
    QPointer<QQuickWindow> m_surface;
    QPointer<QQuickWindow> m_followed;
    QMetaObject::Connection m_frames;
    // Until the followed window has drawn and gone quiet, the content stays
    // in its scene (and does not play).
    bool m_windowSettled = false;
    QMetaObject::Connection m_settleFrames;
    QTimer m_quiet;    // restarted by each of the window's frames
    QTimer m_settleBy; // from the window's first frame, however busy it is
    QPointer<QQuickWindow> m_uncovered;
};

} // namespace velmor::views
