#include "app/network_access.h"

#include <QLoggingCategory>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QQmlEngine>
#include <QQmlNetworkAccessManagerFactory>
#include <QUrl>

namespace velmor::app {

namespace {

Q_LOGGING_CATEGORY(lcViewNetwork, "velmor.app.network")

// The largest picture the views take from a server; a larger or endless
// answer is broken off.
constexpr qint64 kMaxPictureBytes = 8 * 1024 * 1024;

// The views' image loader reads a reply only once it has finished, so Qt
// would keep whatever a server sends. Bounded, Qt stops reading the socket
// once a picture's worth waits; an answer that states a larger length, or
// comes to more, is aborted there.
void boundPicture(QNetworkReply *reply)
{
    reply->setReadBufferSize(kMaxPictureBytes + 1);
    const auto judge = [reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if ((length.isValid() && length.toLongLong() > kMaxPictureBytes) || reply->bytesAvailable() > kMaxPictureBytes) {
            qCWarning(lcViewNetwork) << "picture over" << kMaxPictureBytes << "bytes refused:"
                                     << reply->url().toDisplayString();
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, judge);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, judge);
}

class SameOriginManager : public QNetworkAccessManager
{
public:
    explicit SameOriginManager(QObject *parent)
        : QNetworkAccessManager(parent)
    {
        setRedirectPolicy(QNetworkRequest::SameOriginRedirectPolicy);
    }

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &original, QIODevice *data) override
    {
        // Each request decides here, whatever policy its maker asked for.
        // Qt's own check, not a user-verified one: a redirect allowed from
        // the reply's `redirected` signal was now and then followed with the
        // first answer's state left over, and the picture never finished.
        QNetworkRequest request(original);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
        QNetworkReply *reply = QNetworkAccessManager::createRequest(op, request, data);
        boundPicture(reply);
        const QUrl origin = original.url();
        connect(reply, &QNetworkReply::errorOccurred, reply, [reply, origin](QNetworkReply::NetworkError error) {
            if (error == QNetworkReply::InsecureRedirectError)
                qCWarning(lcViewNetwork) << "redirect to another origin refused:" << origin.toDisplayString()
                                         << "->" << reply->url().toDisplayString();
        });
        return reply;
    }
};

class SameOriginFactory : public QQmlNetworkAccessManagerFactory
{
public:
    // Called on the engine's loader threads too; keeps no state.
    QNetworkAccessManager *create(QObject *parent) override { return new SameOriginManager(parent); }
};

} // namespace

void installNetworkAccess(QQmlEngine &engine)
{
    // The engine does not own its factory; one serves every engine.
    static SameOriginFactory factory;
    engine.setNetworkAccessManagerFactory(&factory);
}

} // namespace velmor::app
