// Sending: texts, pictures and voice clips into a conversation, and the
// retry of a failed message.
//
// A send checks its input on the GUI thread, writes a local row with status
// sending so that the message shows at once, and hands the network work to a
// background job; its continuation writes the final status into that row
// (sent, failed, or address unreachable for the relay's
// "recipientNeverOnline"). A picture is read and recompressed on the pool
// too, and its row is written when that is done.
//
// The transport follows the peer: "sg:" + server URL (the group's server),
// "group:" + group id (the normal-group fan-out), else a one-to-one peer
// key (the relay).
//
// A retry sends again to the failed row's own peer. Its new row (and the
// temporary copy of the media) is written first; the failed row is deleted
// only once the new one is stored, so a retry that cannot start leaves the
// failed message in place. A result that comes back for a row deleted
// meanwhile writes nothing.
#pragma once

#include "store/records.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace velmor::chat {

class ChatHost;

class Outbox : public QObject
{
    Q_OBJECT
public:
    explicit Outbox(ChatHost &host, QObject *parent = nullptr);

    // Into the open conversation.
    void sendText(const QString &text);
    void sendImageFromFile(const QString &fileUrl);
    void sendVoiceFromFile(const QString &filePath, int durationMs);
    void retryMessage(const QString &messageId);

    // The largest JPEG sent (tests lower it to reach the refusal).
    void setImageByteLimit(qsizetype bytes) { m_imageByteLimit = bytes; }
    // Sends whose result has not come back yet (pictures being prepared included).
    int inFlight() const { return m_inFlight; }

    // The label of a voice clip: "[语音]", or "[语音 N\"]" with whole seconds rounded up.
    static QString voiceLabel(int durationMs);
    // A file URL's local path, or the text as it is.
    static QString localPath(const QString &fileOrUrl);

signals:
    // A send's row has its final status (after the row was written).
    void sendFinished(const QString &messageId, int status);

private:
    struct Payload
    {
        enum class Kind { Text, Image, Voice } kind = Kind::Text;
        QString text;
        QByteArray bytes;
        int width = 0;
        int height = 0;
        int durationMs = 0;
    };

    bool mayPost(const QString &peer);
    void textTo(const QString &peer, const QString &text, const QString &replaces);
    void imageTo(const QString &peer, const QString &path, const QString &replaces);
    void voiceTo(const QString &peer, const QString &path, int durationMs, const QString &replaces);
    void post(const QString &peer, MessageRecord row, const Payload &payload, const QString &replaces);
    void finish(const MessageRecord &row, const QString &error, bool text);
    static QString transmit(const QString &peer, const Payload &payload, const QString &serverKey,
                            const QString &displayName, const QString &rowId);

    ChatHost &m_host;
    qsizetype m_imageByteLimit;
    int m_inFlight = 0;
};

} // namespace velmor::chat
