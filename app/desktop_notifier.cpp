#include "app/desktop_notifier.h"

#include "chat/chat_controller.h"

#include <QApplication>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QSystemTrayIcon>

namespace {

constexpr int kBalloonMs = 5000;

// The views' translation of a controller's text, reached from C++.
constexpr char kWording[] = "import QtQml\nimport Velmor\n"
                            "QtObject { function said(text) { return I18n.said(text) } }\n";

} // namespace

DesktopNotifier::DesktopNotifier(ChatController *chat, QQmlEngine *views, QObject *parent)
    : QObject(parent)
    , m_chat(chat)
    , m_trayIcon(new QSystemTrayIcon(this))
{
    if (views) {
        QQmlComponent component(views);
        component.setData(kWording, QUrl(QStringLiteral("qrc:/desktop_notifier_wording.qml")));
        m_wording = component.create();
        if (m_wording) {
            // Gone with the notifier, or with the engine if that goes first
            // (a notice then shows as it came).
            QQmlEngine::setObjectOwnership(m_wording.data(), QQmlEngine::CppOwnership);
            m_wording->setParent(this);
            connect(views, &QObject::destroyed, this, [this] { delete m_wording.data(); });
        } else {
            qWarning("desktop notices: no translations (%s)", qPrintable(component.errorString()));
        }
    }
    m_trayIcon->setIcon(QIcon(trayPixmap()));
    m_trayIcon->setToolTip(QStringLiteral("Pelorin"));
    m_trayIcon->setVisible(QSystemTrayIcon::isSystemTrayAvailable());
    connect(m_chat, &ChatController::systemNotificationRequested, this, &DesktopNotifier::notify);
    connect(m_trayIcon, &QSystemTrayIcon::messageClicked, this, &DesktopNotifier::activate);
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::trayVisible() const
{
    return m_trayIcon->isVisible();
}

QPixmap DesktopNotifier::trayPixmap()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x3d, 0x84, 0xcc));
    painter.drawRoundedRect(QRectF(pixmap.rect()).adjusted(4, 4, -4, -4), 16, 16, Qt::AbsoluteSize);
    painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
    painter.drawLine(19, 23, 45, 23);
    painter.drawLine(19, 32, 39, 32);
    painter.drawLine(19, 41, 34, 41);
    return pixmap;
}

QString DesktopNotifier::shown(const QString &text) const
{
    if (!m_wording)
        return text;
    QVariant out;
    if (!QMetaObject::invokeMethod(m_wording.data(), "said", Q_RETURN_ARG(QVariant, out), Q_ARG(QVariant, text)))
        return text;
    return out.toString();
}

void DesktopNotifier::notify(const QString &peer, const QString &title, const QString &body)
{
    m_lastPeer = peer;
    QApplication::beep();
    if (m_trayIcon->isVisible())
        m_trayIcon->showMessage(shown(title), shown(body), QSystemTrayIcon::Information, kBalloonMs);
}

void DesktopNotifier::activate()
{
    if (!m_lastPeer.isEmpty())
        m_chat->activateSystemNotification(m_lastPeer);
}
