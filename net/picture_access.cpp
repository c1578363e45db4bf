#include "net/picture_access.h"

#include "net/http.h"

#include <QLoggingCategory>
#include <QNetworkReply>
#include <QPointer>

#include <cstring>

namespace velmor::net {

namespace {

Q_LOGGING_CATEGORY(lcPictures, "velmor.net.pictures")

// Qt follows up to 50; a picture has no use for more than a few.
constexpr int kMaxRedirects = 8;

bool isHttp(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Same scheme, host and port, as Qt's own same-origin redirect policy.
bool sameOrigin(const QUrl &a, const QUrl &b)
{
    const QString scheme = a.scheme().toLower();
    const int defaultPort = scheme == QLatin1String("https") ? 443 : 80;
    return scheme == b.scheme().toLower() && a.host().compare(b.host(), Qt::CaseInsensitive) == 0
        && a.port(defaultPort) == b.port(defaultPort);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// A picture's reply whose answer comes whole from the bounded client; it
// lives on the thread that asked (the engine's image loader) and never
// waits there.
class PictureReply final : public QNetworkReply
{
public:
    PictureReply(const QNetworkRequest &request, QNetworkAccessManager::Operation op, int deadlineMs, QObject *parent)
        : QNetworkReply(parent), m_origin(request.url()), m_deadlineMs(deadlineMs)
    {
        setRequest(request);
        setUrl(request.url());
        setOperation(op);
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        if (op == QNetworkAccessManager::GetOperation) {
            ask(request.url());
        } else {
            // Views only read pictures; from the loop, as any answer comes.
            QMetaObject::invokeMethod(
                this, [this] { fail(ProtocolInvalidOperationError, QStringLiteral("only pictures are read")); },
                Qt::QueuedConnection);
        }
    }

    ~PictureReply() override { m_call.cancel(); }

    void abort() override
    {
        if (isFinished())
            return;
        m_call.cancel();
        fail(OperationCanceledError, QStringLiteral("Operation canceled"));
    }

    // As Qt's replies: a close while it runs cancels it, and says so.
    void close() override
    {
        abort();
        QNetworkReply::close();
    }

    // Read as a file once whole: a reader's readAll() then takes the body
    // in one piece of its size, where for a stream it would grow a buffer
    // step by step to twice the picture's size.
    bool isSequential() const override { return false; }
    qint64 size() const override { return m_body.size(); }
    qint64 bytesAvailable() const override { return m_body.size() - m_read + QNetworkReply::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 count = qMin(maxSize, qint64(m_body.size()) - m_read);
        if (count <= 0)
            return isFinished() ? -1 : 0;
        std::memcpy(data, m_body.constData() + m_read, size_t(count));
        m_read += count;
        return count;
    }

private:
    void ask(const QUrl &url)
    {
        HttpRequest request;
        request.url = url;
        request.contentType.clear();
        request.headers = {qMakePair(QByteArray("Accept"), QByteArray("image/*"))};
        request.maxResponseBytes = kMaxPictureBytes;
        request.timeoutMs = m_deadlineMs;
        m_call = startHttp(request, this, [this](const HttpResponse &response) { answered(response); },
                           Connections::Pictures);
    }

    void answered(const HttpResponse &response)
    {
        m_call = {};
        if (response.status > 0)
            setAttribute(QNetworkRequest::HttpStatusCodeAttribute, response.status);
        if (response.error.isEmpty() && isRedirect(response.status) && !response.location.isEmpty()) {
            follow(url().resolved(QUrl::fromEncoded(response.location)));
            return;
        }
        if (!response.error.isEmpty()) {
            failOnError(response.error);
            return;
        }
        if (!response.success) {
            fail(response.status == 404 || response.status == 410 ? ContentNotFoundError
                 : response.status >= 500                          ? UnknownServerError
                                                                   : UnknownContentError,
                 QStringLiteral("HTTP status %1").arg(response.status));
            return;
        }
        m_body = response.body;
        const qint64 size = m_body.size();
        setHeader(QNetworkRequest::ContentLengthHeader, size);
        // Whoever listens may abort or drop this reply on any of these.
        const QPointer<PictureReply> self(this);
        emit metaDataChanged();
        if (self && !isFinished())
            emit downloadProgress(size, size);
        if (self && !isFinished() && size > 0)
            emit readyRead();
        if (self && !isFinished()) {
            setFinished(true);
            emit finished();
        }
    }

    void follow(const QUrl &target)
    {
        if (!sameOrigin(m_origin, target)) {
            qCWarning(lcPictures) << "redirect to another origin refused:" << m_origin.toDisplayString() << "->"
                                  << target.toDisplayString();
            fail(InsecureRedirectError, QStringLiteral("redirect to another origin"));
            return;
        }
        if (++m_redirects > kMaxRedirects) {
            fail(TooManyRedirectsError, QStringLiteral("too many redirects"));
            return;
        }
        setUrl(target);
        emit redirected(target);
        if (!isFinished())
            ask(target);
    }

    void failOnError(const QString &error)
    {
        if (error == QLatin1String("response_too_large")) {
            qCWarning(lcPictures) << "picture over" << kMaxPictureBytes << "bytes refused:" << url().toDisplayString();
            fail(UnknownContentError, QStringLiteral("picture too large"));
        } else if (error == QLatin1String("timeout")) {
            fail(TimeoutError, QStringLiteral("picture not loaded in time"));
        } else if (error == QLatin1String("aborted")) {
            fail(OperationCanceledError, QStringLiteral("Operation canceled"));
        } else if (error == QLatin1String("insecure_endpoint") || error == QLatin1String("invalid_url")) {
            fail(ProtocolInvalidOperationError, error);
        } else if (error == QLatin1String("connection_closed")) {
            fail(RemoteHostClosedError, error);
        } else if (error == QLatin1String("incomplete_response") || error == QLatin1String("invalid_response")) {
            fail(ProtocolFailure, error);
        } else {
            fail(UnknownNetworkError, error);
        }
    }

    void fail(NetworkError code, const QString &text)
    {
        if (isFinished())
            return;
        setError(code, text);
        setFinished(true);
        const QPointer<PictureReply> self(this);
        emit errorOccurred(code);
        if (self)
            emit finished();
    }

    const QUrl m_origin;
    const int m_deadlineMs;
    HttpCall m_call;
    int m_redirects = 0;
    QByteArray m_body;
    qint64 m_read = 0;
};

} // namespace

PictureAccessManager::PictureAccessManager(QObject *parent, int deadlineMs)
    : QNetworkAccessManager(parent), m_deadlineMs(deadlineMs)
{
}

QNetworkReply *PictureAccessManager::createRequest(Operation op, const QNetworkRequest &request, QIODevice *data)
{
    if (isHttp(request.url()))
        return new PictureReply(request, op, m_deadlineMs, this);
    return QNetworkAccessManager::createRequest(op, request, data);
}

} // namespace velmor::net
