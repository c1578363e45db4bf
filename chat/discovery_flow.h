// Discovery and joining: a pasted text or a picked QR picture is resolved in
// the background into one result that the views show (`result()`), from
// which the user saves the person and opens the chat, or asks to join the
// group. One job at a time: a resolve, a picture or a join started while
// another runs is refused, so a double click never sends two join requests.
#pragma once

#include "groups/discovery.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace velmor::chat {

class ChatHost;

class DiscoveryFlow : public QObject
{
    Q_OBJECT
public:
    explicit DiscoveryFlow(ChatHost &host, QObject *parent = nullptr);

    bool busy() const { return m_busy; }
    QVariantMap result() const { return m_result; }

    void resolveText(const QString &input);
    void resolveQrImage(const QString &fileUrl);
    void clear();
    // Forgets the result without a signal (the session ends).
    void forget();
    bool saveContactAndStartChat(const QString &remark);
    void joinGroup(const QString &note);

    static QString kindName(int kind);
    static QVariantMap toMap(const DiscoveryResult &result);
    // The join request that a normal group's owner receives (compact JSON).
    static QByteArray joinRequestPayload(const QVariantMap &result, const velmor::identity::Identity &me,
                                         const QString &avatarId);

signals:
    void changed();
    void completed(bool ok, const QString &status);
    // A super group was joined (or the user was a member already): the
    // user's super-group list should be fetched again.
    void superGroupJoined(const QString &serverUrl);

private:
    void setBusy(bool busy, bool clearResult);
    void finishJoin(const QString &kind, const QString &serverUrl, const QString &status);

    ChatHost &m_host;
    bool m_busy = false;
    QVariantMap m_result;
};

} // namespace velmor::chat
