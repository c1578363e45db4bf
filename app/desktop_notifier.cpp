#include "app/desktop_notifier.h"

#include "chat/chat_controller.h"

#include <QApplication>
#include <QPainter>
#include <QSystemTrayIcon>

namespace {

constexpr int kBalloonMs = 5000;

} // namespace

DesktopNotifier::DesktopNotifier(ChatController *chat, QObject *parent)
    : QObject(parent)
    , m_chat(chat)
    , m_trayIcon(new QSystemTrayIcon(this))
{
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

void DesktopNotifier::notify(const QString &peer, const QString &title, const QString &body)
{
    m_lastPeer = peer;
    QApplication::beep();
    if (m_trayIcon->isVisible())
        m_trayIcon->showMessage(title, body, QSystemTrayIcon::Information, kBalloonMs);
}

void DesktopNotifier::activate()
{
    if (!m_lastPeer.isEmpty())
        m_chat->activateSystemNotification(m_lastPeer);
}
