// What the parts of long_lists_bench share: the seeded store's rows, the bare
// lists they are measured beside, and the window with the real home view.
#pragma once

#include "app/message_picture_provider.h"
#include "bench/loopback_endpoints.h"
#include "chat/chat_controller.h"
#include "chat/messaging_parts.h"
#include "chat/message_list.h"
#include "chat/payloads.h"
#include "identity/content.h"
#include "identity/envelope.h"
#include "identity/crypto.h"
#include "identity/identity.h"
#include "mock_controllers.h"
#include "models/keyed_list_model.h"
#include "models/qml_types.h"
#include "net/relay_api.h"
#include "net/relay_session.h"
#include "store/chat_store.h"
#include "support/fake_relay.h"

#include <QBuffer>
#include <QtConcurrent/QtConcurrentRun>
#include <QDateTime>
#include <QEventLoop>
#include <QTimer>
#include <QImage>
#include <QRandomGenerator>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <malloc.h>
#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace velmor::bench::lists {

using namespace velmor::chat;

constexpr int kWidth = 1112;
constexpr int kHeight = 816;

// Bytes the program holds on its heap now (live allocations, whether or
// not freed memory went back to the system), in MB.
inline double heapMb()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

// CPU time of the calling (GUI) thread, in ms.
inline double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline double msSince(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// One turn of the event loop as exec() runs it: posted events, then the
// objects released with deleteLater() (rows the lists let go), which
// processEvents() alone leaves queued.
inline void turn()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

inline double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5))];
}

inline velmor::identity::Identity peerIdentity(int i)
{
    QByteArray secret(32, 0x02);
    secret[29] = char(i >> 16);
    secret[30] = char(i >> 8);
    secret[31] = char(i & 0xff);
    return velmor::identity::Identity(secret);
}

inline QString peerKey(int i)
{
    return peerIdentity(i).publicKeyText();
}

inline QString messageText(int i)
{
    static const QStringList words = QStringLiteral(
        "the quick brown fox jumps over a lazy dog while 我们 在 路上 聊天 and then some").split(' ');
    if (i % 23 == 5)
        return payload::encodePrefixedJson(QString::fromLatin1(payload::kSitePrefix),
                                           QJsonObject{ { "title", "A page" }, { "url", "https://example.org/a" } });
    QString text = QString::number(i);
    for (int w = 0; w < 3 + (i * 7) % 40; ++w)
        text += QLatin1Char(' ') + words[(i + w) % words.size()];
    return text;
}

// One conversation of `count` messages with `peer`, written `batchSize` at
// a time; `fill` gives message `i` what differs from the plain row.
inline void seedRows(const QString &peer, int count, int batchSize, const std::function<void(int, MessageRecord &)> &fill)
{
    ChatStore &store = ChatStore::instance();
    store.ensureDirectConversation(peer, peer, peer.left(8));
    const QString conversation = store.conversationIdFor(peer);
    QList<MessageRecord> batch;
    for (int i = 0; i < count; ++i) {
        MessageRecord m;
        m.conversation_id = conversation;
        m.peer_raw_public_key = peer;
        m.created_at = 1700000000 + i;
        m.is_outgoing = (i / 3) % 3 == 0;
        m.status = m.is_outgoing ? MessageStatus::Sent : MessageStatus::Received;
        fill(i, m);
        batch.append(m);
        if (batch.size() == batchSize || i + 1 == count) {
            store.upsertMessages(batch);
            batch.clear();
        }
    }
}

inline void seedConversation(const QString &peer, int count)
{
    seedRows(peer, count, 5000, [&peer](int i, MessageRecord &m) {
        m.id = QStringLiteral("%1-%2").arg(peer.left(10)).arg(i);
        m.text = messageText(i);
    });
}

// A JPEG of noise (noise does not compress: about 200 KB at 640 x 480).
inline QByteArray noisyJpeg(int seed)
{
    QImage image(640, 480, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed + 1));
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 55);
    return bytes;
}

// `count` messages with `peer`, every other one a picture (received, with
// the content digest a received message has).
inline void seedPictureConversation(const QString &peer, int count)
{
    QList<QString> attachments;
    for (int i = 0; i < 8; ++i)
        attachments.append(payload::imagePayload(velmor::crypto::base64UrlEncode(noisyJpeg(i)),
                                                 QStringLiteral("image/jpeg"), 640, 480));
    seedRows(peer, count, 200, [&attachments](int i, MessageRecord &m) {
        m.id = QStringLiteral("pic-%1").arg(i);
        m.content_digest = QStringLiteral("digest-%1").arg(i);
        if (i % 2 == 0) {
            m.text = QStringLiteral("[图片]");
            m.content_type = QStringLiteral("image");
            m.attachment = attachments.at(i % attachments.size());
        } else {
            m.text = messageText(i);
        }
    });
}

// The bare baseline: a ListView of rounded bubbles with wrapped text over a
// list model whose rows are all in memory.
inline constexpr char kBareList[] = R"(
import QtQuick
import Velmor.Models 1.0
ListView {
    width: 760; height: 640
    clip: true
    spacing: 3
    model: KeyedListModel { objectName: "rows" }
    delegate: Item {
        required property var entry
        width: ListView.view.width
        height: bubble.height
        Rectangle {
            id: bubble
            x: entry.outgoing ? parent.width - width - 22 : 22
            width: Math.min(430, body.implicitWidth + 22)
            height: body.height + 30
            radius: 16
            color: entry.outgoing ? "#effdde" : "white"
            Text { id: body; x: 11; y: 8; width: parent.width - 22; text: entry.text; wrapMode: Text.Wrap }
            Text { anchors.right: parent.right; anchors.bottom: parent.bottom; anchors.margins: 5; text: "12:00"; font.pixelSize: 11 }
        }
    }
}
)";

// The bare list of pictures and texts: an image message draws its picture
// from the data: URL of its row, off the GUI thread, in the box and at the
// decoded size of the real view's thumbnail of a 640 x 480 picture (200 x
// 150, decoded at twice that), so both lists are as tall and decode as much.
inline constexpr char kBarePictureList[] = R"(
import QtQuick
import Velmor.Models 1.0
ListView {
    width: 760; height: 640
    clip: true
    spacing: 3
    model: KeyedListModel { objectName: "rows" }
    delegate: Item {
        required property var entry
        width: ListView.view.width
        height: entry.kind === "image" ? 156 : bubble.height
        Image {
            visible: entry.kind === "image"
            x: entry.outgoing ? parent.width - width - 22 : 22
            width: 200; height: 150
            sourceSize: Qt.size(400, 300)
            asynchronous: true
            fillMode: Image.PreserveAspectFit
            source: entry.kind === "image" ? entry.imageSrc : ""
        }
        Rectangle {
            id: bubble
            visible: entry.kind !== "image"
            x: entry.outgoing ? parent.width - width - 22 : 22
            width: Math.min(430, body.implicitWidth + 22)
            height: body.height + 30
            radius: 16
            color: entry.outgoing ? "#effdde" : "white"
            Text { id: body; x: 11; y: 8; width: parent.width - 22; text: entry.text; wrapMode: Text.Wrap }
        }
    }
}
)";

// The same for the sidebar: avatar circle, name, preview and time.
inline constexpr char kBareSidebar[] = R"(
import QtQuick
import Velmor.Models 1.0
ListView {
    width: 300; height: 640
    clip: true
    model: KeyedListModel { objectName: "rows"; keyName: "peer" }
    delegate: Rectangle {
        required property var entry
        width: ListView.view.width
        height: 62
        color: "transparent"
        Rectangle { x: 10; y: 8; width: 46; height: 46; radius: 23; color: "#ccd" }
        Text { x: 68; y: 8; text: entry.display; font.bold: true; color: "white" }
        Text { x: 68; y: 33; width: parent.width - 78; text: entry.last; elide: Text.ElideRight; color: "white" }
        Text { anchors.right: parent.right; y: 8; text: "12:00"; color: "white" }
    }
}
)";

class Bench
{
public:
    QQmlEngine engine;
    QQuickWindow window;
    ChatController *chat = nullptr;
    QQuickItem *home = nullptr;

    Bench()
    {
        window.resize(kWidth, kHeight);
        window.show();
    }

    // Renders one frame; the time it took.
    double frame()
    {
        QElapsedTimer t;
        t.start();
        window.grabWindow();
        return msSince(t);
    }

    // Frames with the events between them for `ms`: the longest step.
    double settle(int ms)
    {
        QElapsedTimer total;
        total.start();
        double worst = 0;
        while (total.elapsed() < ms) {
            QElapsedTimer t;
            t.start();
            turn();
            window.grabWindow();
            worst = std::max(worst, msSince(t));
        }
        return worst;
    }

    QQuickItem *load(const QByteArray &qml, const char *name)
    {
        QQmlComponent component(&engine);
        component.setData(qml, QUrl(QStringLiteral("qrc:/qt/qml/Velmor/qml/%1.qml").arg(QLatin1String(name))));
        QObject *object = component.create();
        if (!object) {
            std::fprintf(stderr, "%s\n", qPrintable(component.errorString()));
            std::exit(1);
        }
        auto *item = qobject_cast<QQuickItem *>(object);
        item->setParentItem(window.contentItem());
        return item;
    }

    void makeHome()
    {
        home = load("import QtQuick\nimport Velmor\nHomeView { width: 1112; height: 816 }\n", "BenchHome");
    }
    void dropHome()
    {
        delete home;
        home = nullptr;
        chat->stop();
        QCoreApplication::processEvents();
    }
    QQuickItem *find(const char *name) const { return home->findChild<QQuickItem *>(QLatin1String(name)); }
};

inline QList<QVariantMap> shownMaps(const QString &peer)
{
    QList<QVariantMap> maps;
    const QString conversation = ChatStore::instance().conversationIdFor(peer);
    for (const MessageRecord &record : ChatStore::instance().shownMessages(conversation))
        maps.append(MessageList::messageMap(record, false));
    return maps;
}

// The newest page of the conversation, as the real list opens with it.
inline QList<QVariantMap> newestMaps(const QString &peer)
{
    QList<QVariantMap> maps;
    const QString conversation = ChatStore::instance().conversationIdFor(peer);
    for (const MessageRecord &record :
         ChatStore::instance().shownMessagesBefore(conversation, std::nullopt, MessageList::kPageSize, nullptr))
        maps.append(MessageList::messageMap(record, false));
    return maps;
}

// The parts that measure arrivals and sends (long_lists_arrivals.cpp).
void partArrive(Bench &b, const QString &peer);
void partArriveThroughInbox(Bench &b, velmor::fakes::FakeRelay &relay, const velmor::identity::Identity &peer,
                            const QString &owner);
void partBurst(Bench &b, velmor::fakes::FakeRelay &relay, const QString &peer, int count);

} // namespace velmor::bench::lists
