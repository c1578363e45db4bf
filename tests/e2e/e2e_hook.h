// The automation hook of the end-to-end test program: it reads one JSON
// command per line on standard input and answers each with one line
// "E2E {json}" on standard output. It drives the real window the way a
// user does (real mouse and key events on items found by objectName),
// evaluates expressions for checks, takes screenshots, measures how long
// the GUI thread was kept from its event loop, and collects every error
// the window showed.
#pragma once

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class AppController;
class QQmlApplicationEngine;
class QQuickItem;
class QQuickWindow;
class QSocketNotifier;

namespace velmor::e2e {

// The items named by a path: "a/b/c" is every c somewhere inside a b
// somewhere inside an a; "name#2" keeps only the third match of that step
// (tree order). The tree runs through popups too, so "sheet/button" finds a
// button inside the popup "sheet".
QList<QObject *> findByPath(QQuickWindow *window, const QString &path);
// Shown: a visible item whose opacity along the way to the window is not 0,
// or an open popup.
bool isShown(QObject *object);

class E2eHook : public QObject
{
    Q_OBJECT
public:
    // `sinceStart` runs from the process's start, so the first frame's
    // delay (the start-up load) is kept apart from later stalls.
    E2eHook(QQmlApplicationEngine &engine, AppController &app, const QElapsedTimer &sinceStart,
            QObject *parent = nullptr);
    ~E2eHook() override;

    // What a single command answers (also used directly by tests of the hook).
    void handle(const QJsonObject &command, const std::function<void(const QJsonObject &)> &reply);
    QStringList errors() const { return m_errors; }
    void recordError(const QString &source, const QString &text);

private:
    void readInput();
    void runNext();
    void answer(const QJsonObject &reply);
    void onTick();
    void watchControllers();

    // Commands.
    QJsonObject click(const QString &path);
    QJsonObject clickText(const QString &text);
    QJsonObject type(const QString &path, const QString &text);
    QJsonObject key(int key, int modifiers);
    // In the root context, or in an item's own context with the item as scope.
    QJsonObject evaluate(const QString &js, QObject *scope = nullptr);
    QJsonObject invoke(const QString &path, const QString &method, const QJsonArray &args);
    QJsonObject setDark(bool dark);
    QJsonObject shot(const QString &file);
    QJsonObject stall() const;
    void waitFor(const std::function<bool()> &condition, int timeoutMs, const QString &what,
                 const std::function<void(const QJsonObject &)> &reply);
    // Runs `then` once the next frame is on screen (layouts done).
    void afterFrame(const std::function<void()> &then);
    void takeKeyboard();
    QJsonObject clickItem(QQuickItem *item, const QString &what);
    QQuickItem *shownText(const QString &text) const;
    QString unclickable(QQuickItem *item, const QString &what, QPointF *centre) const;
    bool revealed(QQuickItem *item, QPointF *centre) const;
    // Until the click's target is shown with a size, then after a frame.
    void whenClickable(const std::function<QQuickItem *()> &target, int timeoutMs, const std::function<void()> &then);
    QObject *shownOne(const QString &path, QString *failure) const;

    QQmlApplicationEngine &m_engine;
    AppController &m_app;
    QPointer<QQuickWindow> m_window;
    QElapsedTimer m_sinceStart;
    QSocketNotifier *m_input = nullptr;
    QByteArray m_buffer;
    QList<QJsonObject> m_pending;
    bool m_busy = false;

    // GUI-thread stall meter: a 5 ms precise timer, lateness counted from
    // the first frame on.
    QTimer m_tick;
    qint64 m_lastTickNs = -1;
    double m_startupMs = -1;
    double m_longestStallMs = 0;
    double m_longestStallAtMs = 0;
    qint64 m_ticks = 0;
    bool m_metering = true; // false while a test's own check or screenshot runs
    QList<QJsonObject> m_stalls; // the worst, longest first
    QString m_lastCommand;

    QStringList m_errors;
    QString m_lastVoiceRoomError;
};

} // namespace velmor::e2e
