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

    // A notice's body as shown in `language` (one of the interface's
    // languages): the chat controller words its notices in Chinese, and the
    // balloon shows them in the language the views use. A body it does not
    // know (a name, a server's word) is shown as it came.
    static QString shownBody(const QString &body, const QString &language);
    // The interface's language: the saved choice ("ui/language"), else the
    // one the system locale maps onto, as the views pick it.
    static QString interfaceLanguage();

private:
    void notify(const QString &peer, const QString &title, const QString &body);
    void activate();

    ChatController *m_chat;
    QSystemTrayIcon *m_trayIcon;
    QString m_lastPeer;
};
