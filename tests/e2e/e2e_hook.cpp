#include "e2e_hook.h"

#include "app/app_controller.h"
#include "chat/chat_controller.h"
#include "voice/voice_room_controller.h"

#include <QCoreApplication>
#include <algorithm>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJSValue>
#include <QPainter>
#include <QJsonDocument>
#include <QQmlApplicationEngine>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlExpression>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSocketNotifier>
#include <QTest>

#include <cstdio>
#include <utility>
#include <unistd.h>

namespace velmor::e2e {

namespace {

E2eHook *g_hook = nullptr;
QtMessageHandler g_previousHandler = nullptr;

// Every QML and JavaScript warning is an error the test must see; the
// program's own log lines (tagged "[SEND]", "[CHAT-ACK]"...) are not.
void messageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_previousHandler)
        g_previousHandler(type, context, message);
    if (!g_hook || type == QtDebugMsg || type == QtInfoMsg)
        return;
    const QByteArray category = context.category ? QByteArray(context.category) : QByteArray();
    const bool fromQml = category == "qml" || category == "js" || message.contains(QLatin1String(".qml:"))
        || message.contains(QLatin1String(".js:"));
    if (fromQml)
        g_hook->recordError(QStringLiteral("qml"), message);
}

bool isPopup(const QObject *object)
{
    return object->inherits("QQuickPopup");
}

// The children of one node of the tree the paths walk: an item's child
// items (the window's overlay left out: a popup's content is reached
// through the popup) and the popups declared inside it; a popup's content,
// header and footer.
QList<QObject *> treeChildren(QObject *node)
{
    QList<QObject *> out;
    if (isPopup(node)) {
        // A dialog's title and buttons sit beside its content.
        for (const char *part : {"header", "contentItem", "footer"})
            if (auto *item = node->property(part).value<QQuickItem *>())
                out << item;
        return out;
    }
    if (auto *item = qobject_cast<QQuickItem *>(node)) {
        for (QQuickItem *child : item->childItems())
            if (!child->inherits("QQuickOverlay"))
                out << child;
    }
    for (QObject *child : node->children())
        if (isPopup(child))
            out << child;
    return out;
}

void collectNamed(QObject *node, const QString &name, QList<QObject *> &out)
{
    for (QObject *child : treeChildren(node)) {
        if (child->objectName() == name && !out.contains(child))
            out << child;
        collectNamed(child, name, out);
    }
}

void collectAll(QObject *node, QList<QObject *> &out)
{
    for (QObject *child : treeChildren(node)) {
        out << child;
        collectAll(child, out);
    }
}

QList<QObject *> roots(QQuickWindow *window)
{
    QList<QObject *> out;
    if (!window)
        return out;
    out << window->contentItem();
    for (QObject *child : window->children())
        if (isPopup(child))
            out << child;
    return out;
}

QJsonObject ok(const QJsonObject &extra = {})
{
    QJsonObject reply = extra;
    reply.insert(QStringLiteral("ok"), true);
    return reply;
}

QJsonObject failure(const QString &why)
{
    return QJsonObject{{QStringLiteral("ok"), false}, {QStringLiteral("error"), why}};
}

} // namespace

QList<QObject *> findByPath(QQuickWindow *window, const QString &path)
{
    QList<QObject *> scopes = roots(window);
    for (const QString &step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const int hash = step.lastIndexOf(QLatin1Char('#'));
        const QString name = hash >= 0 ? step.left(hash) : step;
        bool indexed = false;
        const int index = hash >= 0 ? step.mid(hash + 1).toInt(&indexed) : 0;
        QList<QObject *> found;
        for (QObject *scope : std::as_const(scopes))
            collectNamed(scope, name, found);
        if (indexed)
            found = index >= 0 && index < found.size() ? QList<QObject *>{found.at(index)} : QList<QObject *>{};
        scopes = found;
        if (scopes.isEmpty())
            break;
    }
    return scopes;
}

bool isShown(QObject *object)
{
    if (!object)
        return false;
    if (isPopup(object))
        return object->property("visible").toBool();
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item || !item->isVisible() || !item->window())
        return false;
    for (QQuickItem *i = item; i; i = i->parentItem())
        if (i->opacity() <= 0.0)
            return false;
    return true;
}

E2eHook::E2eHook(QQmlApplicationEngine &engine, AppController &app, const QElapsedTimer &sinceStart,
                 QObject *parent)
    : QObject(parent), m_engine(engine), m_app(app), m_sinceStart(sinceStart)
{
    g_hook = this;
    g_previousHandler = qInstallMessageHandler(messageHandler);
    const QList<QObject *> rootObjects = engine.rootObjects();
    m_window = rootObjects.isEmpty() ? nullptr : qobject_cast<QQuickWindow *>(rootObjects.first());
    watchControllers();

    m_tick.setTimerType(Qt::PreciseTimer);
    m_tick.setInterval(5);
    connect(&m_tick, &QTimer::timeout, this, &E2eHook::onTick);

    m_input = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &E2eHook::readInput);

    if (!m_window) {
        answer(QJsonObject{{QStringLiteral("ready"), false}, {QStringLiteral("error"), QStringLiteral("no window")}});
        return;
    }
    // Ready once the first frame is on screen: from then on the window
    // answers a user, and the stall meter runs.
    // frameSwapped comes from the render thread: several may be queued
    // before the first is handled, so only the first counts.
    m_busy = true; // commands wait for the window
    connect(m_window, &QQuickWindow::frameSwapped, this, [this] {
        if (m_startupMs >= 0)
            return;
        m_startupMs = double(m_sinceStart.nsecsElapsed()) / 1e6;
        m_lastTickNs = m_sinceStart.nsecsElapsed();
        m_tick.start();
        answer(QJsonObject{{QStringLiteral("ready"), true}, {QStringLiteral("startupMs"), m_startupMs}});
        m_busy = false;
        runNext();
    });
}

E2eHook::~E2eHook()
{
    qInstallMessageHandler(g_previousHandler);
    g_hook = nullptr;
}

void E2eHook::watchControllers()
{
    QQmlContext *context = m_engine.rootContext();
    if (auto *chat = qobject_cast<ChatController *>(context->contextProperty(QStringLiteral("Chat")).value<QObject *>())) {
        connect(chat, &ChatController::operationFailed, this, [this](const QVariantMap &error) {
            recordError(QStringLiteral("Chat"),
                        QStringLiteral("%1 %2 (%3)")
                            .arg(error.value(QStringLiteral("code")).toString(),
                                 error.value(QStringLiteral("messageKey")).toString(),
                                 error.value(QStringLiteral("detail")).toString()));
        });
    }
    connect(&m_app, &AppController::errorTextChanged, this, [this] {
        if (!m_app.errorText().isEmpty())
            recordError(QStringLiteral("App"), m_app.errorText());
    });
    if (auto *room = qobject_cast<VoiceRoomController *>(
            context->contextProperty(QStringLiteral("VoiceRoom")).value<QObject *>())) {
        connect(room, &VoiceRoomController::stateChanged, this, [this, room] {
            const QString error = room->lastError();
            if (error != m_lastVoiceRoomError && !error.isEmpty())
                recordError(QStringLiteral("VoiceRoom"), error);
            m_lastVoiceRoomError = error;
        });
    }
}

void E2eHook::recordError(const QString &source, const QString &text)
{
    m_errors << QStringLiteral("[%1 ms] %2: %3")
                    .arg(QString::number(double(m_sinceStart.nsecsElapsed()) / 1e6, 'f', 0), source, text);
}

void E2eHook::readInput()
{
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        // The driver is gone: nobody is left to answer.
        m_input->setEnabled(false);
        QCoreApplication::quit();
        return;
    }
    m_buffer.append(chunk, int(n));
    int newline;
    while ((newline = m_buffer.indexOf('\n')) >= 0) {
        const QByteArray line = m_buffer.left(newline).trimmed();
        m_buffer.remove(0, newline + 1);
        if (line.isEmpty())
            continue;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        m_pending << (document.isObject() ? document.object()
                                          : QJsonObject{{QStringLiteral("cmd"), QStringLiteral("invalid")}});
    }
    runNext();
}

void E2eHook::runNext()
{
    if (m_busy || m_pending.isEmpty())
        return;
    m_busy = true;
    const QJsonObject command = m_pending.takeFirst();
    // What a test reads for its checks (a snapshot opens every
    // conversation) or takes for itself (screenshots, theme switches) is
    // not the program keeping a user waiting: left out of the stall meter.
    static const QStringList instrumentation{QStringLiteral("eval"), QStringLiteral("evalIn"),
                                             QStringLiteral("property"), QStringLiteral("errors"),
                                             QStringLiteral("stall"), QStringLiteral("shot"),
                                             QStringLiteral("setDark"), QStringLiteral("invalid")};
    const bool measured = !instrumentation.contains(command.value(QStringLiteral("cmd")).toString());
    m_metering = measured;
    handle(command, [this](const QJsonObject &reply) {
        if (!m_metering)
            m_lastTickNs = m_sinceStart.nsecsElapsed();
        m_metering = true;
        answer(reply);
        m_busy = false;
        QTimer::singleShot(0, this, &E2eHook::runNext);
    });
}

void E2eHook::answer(const QJsonObject &reply)
{
    const QByteArray line = "E2E " + QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fflush(stdout);
}

void E2eHook::onTick()
{
    const qint64 now = m_sinceStart.nsecsElapsed();
    const double lateMs = double(now - m_lastTickNs) / 1e6 - m_tick.interval();
    m_lastTickNs = now;
    if (!m_metering)
        return;
    ++m_ticks;
    if (lateMs > m_longestStallMs) {
        m_longestStallMs = lateMs;
        m_longestStallAtMs = double(now) / 1e6;
    }
    // The worst stalls, each with the command that ran last before it, so
    // a long one can be traced to the step that caused it.
    if (lateMs > 20) {
        m_stalls.append(QJsonObject{{QStringLiteral("ms"), lateMs},
                                    {QStringLiteral("atMs"), double(now) / 1e6},
                                    {QStringLiteral("after"), m_lastCommand}});
        std::sort(m_stalls.begin(), m_stalls.end(), [](const QJsonObject &a, const QJsonObject &b) {
            return a.value(QStringLiteral("ms")).toDouble() > b.value(QStringLiteral("ms")).toDouble();
        });
        if (m_stalls.size() > 8)
            m_stalls.removeLast();
    }
}

QJsonObject E2eHook::stall() const
{
    return ok({{QStringLiteral("longestMs"), m_longestStallMs},
               {QStringLiteral("atMs"), m_longestStallAtMs},
               {QStringLiteral("startupMs"), m_startupMs},
               {QStringLiteral("ticks"), double(m_ticks)},
               {QStringLiteral("worst"), [this] {
                    QJsonArray worst;
                    for (const QJsonObject &stall : m_stalls)
                        worst.append(stall);
                    return worst;
                }()}});
}

void E2eHook::handle(const QJsonObject &command, const std::function<void(const QJsonObject &)> &reply)
{
    const QString cmd = command.value(QStringLiteral("cmd")).toString();
    if (cmd != QLatin1String("stall"))
        m_lastCommand = cmd + QLatin1Char(' ')
            + command.value(command.contains(QStringLiteral("path")) ? QStringLiteral("path") : QStringLiteral("js"))
                  .toString()
                  .left(60);
    const QString path = command.value(QStringLiteral("path")).toString();
    const int timeoutMs = command.value(QStringLiteral("timeout")).toInt(10000);
    if (!m_window) {
        reply(failure(QStringLiteral("no window")));
    } else if (cmd == QLatin1String("ping")) {
        reply(ok());
    } else if (cmd == QLatin1String("waitItem")) {
        waitFor([this, path] { return shownOne(path, nullptr) != nullptr; }, timeoutMs,
                QStringLiteral("item '%1' shown").arg(path), reply);
    } else if (cmd == QLatin1String("waitText")) {
        const QString text = command.value(QStringLiteral("text")).toString();
        waitFor([this, text] { return shownText(text) != nullptr; }, timeoutMs,
                QStringLiteral("the text '%1' shown").arg(text), reply);
    } else if (cmd == QLatin1String("click")) {
        whenClickable([this, path] { return qobject_cast<QQuickItem *>(shownOne(path, nullptr)); }, timeoutMs,
                      [this, path, reply] { reply(click(path)); });
    } else if (cmd == QLatin1String("reveal")) {
        // Done once the item stays clickable in one place across two checks:
        // a pane still moving back into its range moves it on.
        auto last = std::make_shared<QPointF>(-1, -1);
        waitFor(
            [this, path, last] {
                QPointF centre(-1, -1);
                const bool shown = revealed(qobject_cast<QQuickItem *>(shownOne(path, nullptr)), &centre);
                return std::exchange(*last, centre) == centre && shown;
            },
            timeoutMs, QStringLiteral("item '%1' scrolled into view").arg(path),
            [this, reply](const QJsonObject &result) { afterFrame([reply, result] { reply(result); }); });
    } else if (cmd == QLatin1String("clickText")) {
        const QString text = command.value(QStringLiteral("text")).toString();
        whenClickable([this, text] { return shownText(text); }, timeoutMs,
                      [this, text, reply] { reply(clickText(text)); });
    } else if (cmd == QLatin1String("type")) {
        const QString text = command.value(QStringLiteral("text")).toString();
        afterFrame([this, path, text, reply] { reply(type(path, text)); });
    } else if (cmd == QLatin1String("key")) {
        reply(key(command.value(QStringLiteral("key")).toInt(), command.value(QStringLiteral("modifiers")).toInt()));
    } else if (cmd == QLatin1String("eval")) {
        reply(evaluate(command.value(QStringLiteral("js")).toString()));
    } else if (cmd == QLatin1String("waitTrue")) {
        const QString js = command.value(QStringLiteral("js")).toString();
        auto last = std::make_shared<QString>();
        waitFor(
            [this, js, last] {
                const QJsonObject result = evaluate(js);
                if (!result.value(QStringLiteral("ok")).toBool())
                    *last = result.value(QStringLiteral("error")).toString();
                return result.value(QStringLiteral("value")).toBool();
            },
            timeoutMs, QStringLiteral("'%1' true").arg(js), [reply, last](const QJsonObject &r) {
                QJsonObject out = r;
                if (!last->isEmpty() && !r.value(QStringLiteral("ok")).toBool())
                    out.insert(QStringLiteral("error"), r.value(QStringLiteral("error")).toString() + " / " + *last);
                reply(out);
            });
    } else if (cmd == QLatin1String("invoke")) {
        reply(invoke(path, command.value(QStringLiteral("method")).toString(),
                     command.value(QStringLiteral("args")).toArray()));
    } else if (cmd == QLatin1String("texts")) {
        // Every shown text, in tree order: what a user can read and click.
        QList<QObject *> all;
        for (QObject *root : roots(m_window))
            collectAll(root, all);
        QJsonArray texts;
        for (QObject *object : std::as_const(all)) {
            const QVariant value = object->property("text");
            if (value.typeId() == QMetaType::QString && !value.toString().isEmpty() && isShown(object))
                texts.append(value.toString());
        }
        reply(ok({{QStringLiteral("texts"), texts}}));
    } else if (cmd == QLatin1String("evalIn")) {
        QObject *object = findByPath(m_window, path).value(0);
        if (!object)
            reply(failure(QStringLiteral("no item '%1'").arg(path)));
        else
            reply(evaluate(command.value(QStringLiteral("js")).toString(), object));
    } else if (cmd == QLatin1String("property")) {
        QObject *object = findByPath(m_window, path).value(0);
        if (!object) {
            reply(failure(QStringLiteral("no item '%1'").arg(path)));
        } else {
            QVariant value = object->property(command.value(QStringLiteral("name")).toString().toUtf8().constData());
            if (value.canConvert<QJSValue>())
                value = value.value<QJSValue>().toVariant();
            reply(ok({{QStringLiteral("value"), QJsonValue::fromVariant(value)},
                      {QStringLiteral("matches"), int(findByPath(m_window, path).size())}}));
        }
    } else if (cmd == QLatin1String("setDark")) {
        // Answered once the window is drawn in the new colours.
        const QJsonObject result = setDark(command.value(QStringLiteral("dark")).toBool());
        afterFrame([reply, result] { reply(result); });
    } else if (cmd == QLatin1String("shot")) {
        reply(shot(command.value(QStringLiteral("file")).toString()));
    } else if (cmd == QLatin1String("stall")) {
        reply(stall());
    } else if (cmd == QLatin1String("errors")) {
        reply(ok({{QStringLiteral("errors"), QJsonArray::fromStringList(m_errors)}}));
    } else if (cmd == QLatin1String("quit")) {
        reply(ok());
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    } else {
        reply(failure(QStringLiteral("unknown command '%1'").arg(cmd)));
    }
}

void E2eHook::afterFrame(const std::function<void()> &then)
{
    // Layouts place an item that just became visible when the next frame
    // is prepared: a user sees it, and clicks it, only after that frame.
    auto done = std::make_shared<bool>(false);
    auto run = [done, then] {
        if (*done)
            return;
        *done = true;
        then();
    };
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(m_window, &QQuickWindow::frameSwapped, this, [connection, run] {
        QObject::disconnect(*connection);
        run();
    }, Qt::QueuedConnection);
    // A window that draws nothing new still answers.
    QTimer::singleShot(500, this, [connection, run] {
        QObject::disconnect(*connection);
        run();
    });
    m_window->update();
}

// A row or button that has just appeared in the model is made, sized and
// placed by its view over the next frames (longer on a loaded machine): a
// user clicks it once it is drawn where it can be clicked. Clicked after
// waiting in vain, the click says what was missing.
void E2eHook::whenClickable(const std::function<QQuickItem *()> &target, int timeoutMs,
                            const std::function<void()> &then)
{
    waitFor(
        [this, target] {
            QQuickItem *item = target();
            QPointF centre;
            return item && unclickable(item, QString(), &centre).isEmpty();
        },
        timeoutMs, QString(), [this, then](const QJsonObject &) { afterFrame(then); });
}

void E2eHook::waitFor(const std::function<bool()> &condition, int timeoutMs, const QString &what,
                      const std::function<void(const QJsonObject &)> &reply)
{
    if (condition()) {
        reply(ok());
        return;
    }
    auto *poll = new QTimer(this);
    QElapsedTimer started;
    started.start();
    poll->setInterval(20);
    connect(poll, &QTimer::timeout, this, [poll, started, condition, timeoutMs, what, reply] {
        if (condition()) {
            poll->deleteLater();
            poll->stop();
            reply(ok());
        } else if (started.elapsed() > timeoutMs) {
            poll->deleteLater();
            poll->stop();
            reply(failure(QStringLiteral("timed out after %1 ms waiting for %2").arg(timeoutMs).arg(what)));
        }
    });
    poll->start();
}

QObject *E2eHook::shownOne(const QString &path, QString *why) const
{
    const QList<QObject *> found = findByPath(m_window, path);
    for (QObject *object : found)
        if (isShown(object))
            return object;
    if (why)
        *why = found.isEmpty() ? QStringLiteral("no item '%1'").arg(path)
                               : QStringLiteral("item '%1' not visible (%2 found)").arg(path).arg(found.size());
    return nullptr;
}

// An item that just became visible is placed by its layouts when the next
// frame is prepared, and a pane's scrolling range follows its content's size
// only then; a user sees (and clicks, and scrolls to) the item as that frame
// shows it. Lays out its ancestors now, outermost first.
static void settle(QQuickItem *item)
{
    QList<QQuickItem *> chain;
    for (QQuickItem *i = item; i; i = i->parentItem())
        chain.prepend(i);
    for (QQuickItem *i : std::as_const(chain))
        i->ensurePolished();
}

// Moves the first pane or list holding `item` that shows it only in part
// (innermost first) by as little as brings it into view, within the pane's
// range, as a user scrolling to it would; true once it can be clicked where
// it stands (its centre in `centre`). Asked again until then: a pane whose
// content is still being laid out is moved again from its settled size.
bool E2eHook::revealed(QQuickItem *item, QPointF *centre) const
{
    if (!item)
        return false;
    settle(item);
    if (item->width() <= 0 || item->height() <= 0)
        return false;
    for (QQuickItem *pane = item->parentItem(); pane; pane = pane->parentItem()) {
        if (!pane->inherits("QQuickFlickable"))
            continue;
        const QRectF rect = item->mapRectToItem(pane, QRectF(0, 0, item->width(), item->height()));
        const double y = pane->property("contentY").toDouble();
        double to = y;
        if (rect.top() < 0)
            to = y + rect.top();
        else if (rect.bottom() > pane->height())
            to = y + std::min(rect.top(), rect.bottom() - pane->height());
        const double top = pane->property("originY").toDouble() - pane->property("topMargin").toDouble();
        const double end = pane->property("originY").toDouble() + pane->property("contentHeight").toDouble()
                           + pane->property("bottomMargin").toDouble() - pane->height();
        to = std::max(top, std::min(to, end));
        if (to != y) {
            pane->setProperty("contentY", to);
            return false;
        }
    }
    return unclickable(item, QString(), centre).isEmpty();
}

// Why a user could not click the item where it stands now (empty: it can),
// and where its centre is in the window.
QString E2eHook::unclickable(QQuickItem *item, const QString &what, QPointF *centre) const
{
    // The frame awaited before a click may be one already in flight: the
    // click lands where the user would see the item once laid out.
    settle(item);
    if (item->width() <= 0 || item->height() <= 0)
        return QStringLiteral("item '%1' has no size yet").arg(what);
    *centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    if (centre->x() < 0 || centre->y() < 0 || centre->x() >= m_window->width() || centre->y() >= m_window->height())
        return QStringLiteral("item '%1' lies outside the window (%2, %3)").arg(what).arg(centre->x()).arg(centre->y());
    // A user cannot click what a scrolled list or a clipping frame hides.
    for (QQuickItem *ancestor = item->parentItem(); ancestor; ancestor = ancestor->parentItem()) {
        if (!ancestor->clip())
            continue;
        const QPointF inside = ancestor->mapFromScene(*centre);
        if (inside.x() < 0 || inside.y() < 0 || inside.x() >= ancestor->width() || inside.y() >= ancestor->height())
            return QStringLiteral("item '%1' is scrolled or clipped out of view").arg(what);
    }
    return {};
}

QJsonObject E2eHook::clickItem(QQuickItem *item, const QString &what)
{
    if (!item->isEnabled())
        return failure(QStringLiteral("item '%1' is disabled").arg(what));
    QPointF centre;
    if (const QString why = unclickable(item, what, &centre); !why.isEmpty())
        return failure(why);
    const QPoint point = centre.toPoint();
    QTest::mouseMove(m_window, point);
    QTest::mouseClick(m_window, Qt::LeftButton, Qt::NoModifier, point);
    return ok();
}

QJsonObject E2eHook::click(const QString &path)
{
    QString why;
    QObject *object = shownOne(path, &why);
    if (!object)
        return failure(why);
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item)
        return failure(QStringLiteral("'%1' is not an item").arg(path));
    return clickItem(item, path);
}

QQuickItem *E2eHook::shownText(const QString &text) const
{
    QList<QObject *> all;
    for (QObject *root : roots(m_window))
        collectAll(root, all);
    for (QObject *object : std::as_const(all)) {
        auto *item = qobject_cast<QQuickItem *>(object);
        if (!item || !isShown(item))
            continue;
        const QVariant value = item->property("text");
        // Button texts may carry a mnemonic ("&Open"), shown without the '&'.
        if (value.typeId() == QMetaType::QString
            && (value.toString() == text || QString(value.toString()).remove(QLatin1Char('&')) == text))
            return item;
    }
    return nullptr;
}

QJsonObject E2eHook::clickText(const QString &text)
{
    if (QQuickItem *item = shownText(text))
        return clickItem(item, text);
    return failure(QStringLiteral("no visible item with the text '%1'").arg(text));
}

QJsonObject E2eHook::type(const QString &path, const QString &text)
{
    QString why;
    QObject *object = shownOne(path, &why);
    auto *item = qobject_cast<QQuickItem *>(object);
    if (!item)
        return failure(why.isEmpty() ? QStringLiteral("'%1' is not an item").arg(path) : why);
    if (!item->isEnabled())
        return failure(QStringLiteral("item '%1' is disabled").arg(path));
    takeKeyboard();
    item->forceActiveFocus(Qt::MouseFocusReason);
    if (!item->hasActiveFocus())
        return failure(QStringLiteral("item '%1' takes no focus").arg(path));
    const QVariant before = item->property("text");
    // One press and release per character, carrying the character as its
    // text; the key code is the character's own (Qt's key codes are the
    // upper-case code points). Delivered one after the other with no event
    // handling in between, so nothing can take the focus half-way.
    for (const QChar ch : text) {
        const int code = ch.toUpper().unicode();
        qt_handleKeyEvent(m_window, QEvent::KeyPress, code, Qt::NoModifier, QString(ch));
        qt_handleKeyEvent(m_window, QEvent::KeyRelease, code, Qt::NoModifier, QString(ch));
    }
    if (before.typeId() == QMetaType::QString && !item->property("text").toString().contains(text))
        return failure(QStringLiteral("'%1' did not reach '%2' (it holds '%3')")
                           .arg(text, path, item->property("text").toString()));
    return ok();
}

void E2eHook::takeKeyboard()
{
    // Two programs share one display with no window manager, and the last
    // window to ask for the keyboard keeps it: a window that lost it has no
    // focus item. A user's click would bring it back; here the window is
    // told it has the keyboard, as it is when in front.
    if (m_window->isActive() || m_window->contentItem()->hasActiveFocus())
        return;
    QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(m_window, &focusIn);
}

QJsonObject E2eHook::key(int key, int modifiers)
{
    takeKeyboard();
    QTest::keyClick(m_window, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    return ok();
}

QJsonObject E2eHook::evaluate(const QString &js, QObject *scope)
{
    const QString wrapped = QStringLiteral(
                                "(function () { var r = (function () { return (%1\n); })();"
                                " return r === undefined ? \"null\" : JSON.stringify(r); })()")
                                .arg(js);
    QQmlContext *context = scope ? qmlContext(scope) : m_engine.rootContext();
    if (!context)
        return failure(QStringLiteral("the item has no QML context"));
    QQmlExpression expression(context, scope, wrapped);
    const QVariant value = expression.evaluate();
    if (expression.hasError())
        return failure(expression.error().toString());
    const QJsonDocument document =
        QJsonDocument::fromJson("[" + value.toString().toUtf8() + "]");
    return ok({{QStringLiteral("value"), document.array().isEmpty() ? QJsonValue() : document.array().at(0)}});
}

QJsonObject E2eHook::invoke(const QString &path, const QString &method, const QJsonArray &args)
{
    QObject *object = findByPath(m_window, path).value(0);
    if (!object)
        return failure(QStringLiteral("no item '%1'").arg(path));
    QVariant a[4];
    for (int i = 0; i < args.size() && i < 4; ++i)
        a[i] = args.at(i).toVariant();
    QVariant result;
    const QByteArray name = method.toUtf8();
    bool called = false;
    switch (args.size()) {
    case 0:
        called = QMetaObject::invokeMethod(object, name.constData(), Q_RETURN_ARG(QVariant, result));
        break;
    case 1:
        called = QMetaObject::invokeMethod(object, name.constData(), Q_RETURN_ARG(QVariant, result),
                                           Q_ARG(QVariant, a[0]));
        break;
    case 2:
        called = QMetaObject::invokeMethod(object, name.constData(), Q_RETURN_ARG(QVariant, result),
                                           Q_ARG(QVariant, a[0]), Q_ARG(QVariant, a[1]));
        break;
    case 3:
        called = QMetaObject::invokeMethod(object, name.constData(), Q_RETURN_ARG(QVariant, result),
                                           Q_ARG(QVariant, a[0]), Q_ARG(QVariant, a[1]), Q_ARG(QVariant, a[2]));
        break;
    default:
        return failure(QStringLiteral("at most three arguments"));
    }
    if (!called)
        return failure(QStringLiteral("'%1' has no function %2 taking %3 arguments").arg(path, method).arg(args.size()));
    return ok({{QStringLiteral("value"), QJsonValue::fromVariant(result)}});
}

QJsonObject E2eHook::setDark(bool dark)
{
    // The theme is the module's singleton; a small object that imports the
    // module reaches the same instance the window uses.
    QQmlComponent component(&m_engine);
    component.setData("import QtQml\nimport Velmor\nQtObject { function apply(d) { Theme.dark = d; return Theme.dark } }",
                      QUrl(QStringLiteral("qrc:/e2e/ThemeSwitch.qml")));
    std::unique_ptr<QObject> switcher(component.create());
    if (!switcher)
        return failure(component.errorString());
    QVariant result;
    QMetaObject::invokeMethod(switcher.get(), "apply", Q_RETURN_ARG(QVariant, result), Q_ARG(QVariant, dark));
    if (result.toBool() != dark)
        return failure(QStringLiteral("the theme did not change"));
    return ok();
}

QJsonObject E2eHook::shot(const QString &file)
{
    QImage image = m_window->grabWindow();
    // What the window's own child surfaces show (the animated logo) is not in
    // its scene: drawn over the grab where they stand.
    QPainter painter(&image);
    for (QObject *child : m_window->children()) {
        auto *surface = qobject_cast<QQuickWindow *>(child);
        if (surface && surface->isVisible())
            painter.drawImage(QPointF(surface->position()), surface->grabWindow());
    }
    painter.end();
    QDir().mkpath(QFileInfo(file).absolutePath());
    const bool saved = !image.isNull() && image.save(file);
    return saved ? ok() : failure(QStringLiteral("could not save the window to %1").arg(file));
}

} // namespace velmor::e2e
