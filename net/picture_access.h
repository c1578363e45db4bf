// What the views may fetch over the network (avatars, pictures of group
// servers), as a network access manager for the QML engine: an http(s) GET
// goes over the request runner's bounded client (http.h) on connections of
// its own, so a picture's answer is bounded from its first byte, whichever
// thread asked and however late it runs. Qt's own HTTP reads an answer
// unbounded until the asking thread has handed it its bound (late on a
// loaded machine), a reply held at that bound never ends, and nothing ends
// an answer that trickles on.
//
// An answer that states more than a picture may have is refused with its
// head, one that comes to more is broken off there, and one still coming at
// the deadline ends then. A redirect is followed only to the origin the
// request was made to: an address that passed the same-origin check of a
// group server must not lead the window to a third party. Plain http only
// to this machine, as for the services. Other schemes (data:, file:, qrc:)
// are Qt's own, which reads nothing from the network for them.
#pragma once

#include <QNetworkAccessManager>

namespace velmor::net {

// The largest picture the views take from a server.
constexpr qint64 kMaxPictureBytes = 8 * 1024 * 1024;
// A picture still coming after this long is given up.
constexpr int kPictureDeadlineMs = 30000;

class PictureAccessManager : public QNetworkAccessManager
{
public:
    explicit PictureAccessManager(QObject *parent = nullptr, int deadlineMs = kPictureDeadlineMs);

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override;

private:
    const int m_deadlineMs;
};

} // namespace velmor::net
