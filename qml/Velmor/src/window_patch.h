#pragma once

#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QQuickItem>
#include <QUrl>
#include <QWindow>
#include <QtQml/qqmlregistration.h>


class QPainter;
class QQuickWindow;
class QRasterWindow;

namespace velmor::views {

// An item whose `content` is shown on a small native window of its own, a
// child of the item's window laid exactly over the item, while it plays
// frame after frame (the animated logo): without it, each of its frames
// redraws the whole window, which software OpenGL pays for in full, pixel by
// pixel, sixty times a second.
//
// The surface is drawn by the window's thread with the raster paint engine,
// not by Qt Quick: a second Qt Quick window would get a render thread and an
// OpenGL context of its own, presenting beside the window's (software
// OpenGL's driver has crashed with two such threads of one process inside a
// frame at once). What it draws is a picture, not the content's items: the
// frame `frame` of the sheet `sheet` (`columns` x `rows` frames, scaled once
// to the size drawn), over `backdrop` (a Rectangle: its colour or gradient,
// radius and border) as the window draws it under the item, also in the
// part of a pixel around an item placed between pixels. While the surface
// shows it, the content is out of the window's scene, so its changes cost
// the window nothing.
//
// The surface stands above everything else of the window, so the content goes
// back into the window's own scene while anything drawn after the item
// overlaps it (an open popup, a notice over the window), while an ancestor
// fades it or cuts it off, and while `detached` is false. The surface takes
// no input: clicks and drags reach the window below. The surface is first
// made once the window has drawn and gone quiet, and once the sheet is
// decoded (on the pool): the window's start-up pays for neither. The
// software scene graph repaints only what changed: there the content stays
// in the scene.
class WindowPatch : public QQuickItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QQuickItem *content READ content WRITE setContent NOTIFY contentChanged)
    Q_PROPERTY(bool detached READ detached WRITE setDetached NOTIFY detachedChanged)
    // What the surface draws: frame `frame` of `sheet`, over `backdrop`.
    Q_PROPERTY(QUrl sheet READ sheet WRITE setSheet NOTIFY sheetChanged)
    Q_PROPERTY(int columns READ columns WRITE setColumns NOTIFY sheetChanged)
    Q_PROPERTY(int rows READ rows WRITE setRows NOTIFY sheetChanged)
    Q_PROPERTY(int frame READ frame WRITE setFrame NOTIFY frameChanged)
    Q_PROPERTY(QQuickItem *backdrop READ backdrop WRITE setBackdrop NOTIFY backdropChanged)
    // Whether the content is on the surface right now.
    Q_PROPERTY(bool onSurface READ onSurface NOTIFY onSurfaceChanged)
    // The native window the content is shown on while `onSurface`.
    Q_PROPERTY(QWindow *surface READ surface NOTIFY onSurfaceChanged)
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
    QWindow *surface() const;
    bool playable() const { return m_playable; }
    QUrl sheet() const { return m_sheet; }
    void setSheet(const QUrl &sheet);
    int columns() const { return m_columns; }
    void setColumns(int columns);
    int rows() const { return m_rows; }
    void setRows(int rows);
    int frame() const { return m_frame; }
    void setFrame(int frame);
    QQuickItem *backdrop() const { return m_backdrop; }
    void setBackdrop(QQuickItem *backdrop);

    // Draws what the surface shows, the surface being `size`.
    void paintSurface(QPainter &painter, const QSizeF &size) const;

signals:
    void contentChanged();
    void detachedChanged();
    void sheetChanged();
    void frameChanged();
    void backdropChanged();
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
    // The sheet decoded and scaled to the size drawn, on the pool.
    void prepareSheet();
    // Sets the sheet's columns or rows (`count`), at least one.
    void setSheetCount(int &count, int value);

    QPointer<QQuickItem> m_content;
    bool m_detached = true;
    bool m_onSurface = false;
    bool m_playable = false;
    QUrl m_sheet;
    int m_columns = 1;
    int m_rows = 1;
    int m_frame = 0;
    QPointer<QQuickItem> m_backdrop;
    // The sheet at the size drawn (device pixels), and what it was made for.
    QImage m_sheetImage;
    QSize m_framesFor;
    bool m_preparing = false;
    // Where the item lies on the surface (below a whole pixel).
    QPointF m_offset;
    QPointer<QRasterWindow> m_surface;
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
