// Desktop notices for the chat session: a beep and, where the desktop has a
// system tray, a tray balloon for each notice the chat controller asks for.
// A click on the balloon opens what the newest notice was about. Not seen by
// QML.
#pragma once

#include <QObject>
#include <QPixmap>
#include <QString>

class ChatController;
class QSystemTrayIcon;

class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotifier(ChatController *chat, QObject *parent = nullptr);
    ~DesktopNotifier() override;

    // The peer (or "event:" target) of the newest notice; empty before any.
    QString lastPeer() const { return m_lastPeer; }
    bool trayVisible() const;

    // The tray icon's picture: a blue rounded square with three white lines.
    static QPixmap trayPixmap();

private:
    void notify(const QString &peer, const QString &title, const QString &body);
    void activate();

    ChatController *m_chat;
    QSystemTrayIcon *m_trayIcon;
    QString m_lastPeer;
};
