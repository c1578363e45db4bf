// What the views may fetch over the network (avatars, pictures of group
// servers): a redirect is followed only to the origin the request was made
// to. An address that passed the same-origin check of a group server must
// not lead the window to a third party.
#pragma once

class QQmlEngine;
class QUrl;

namespace velmor::app {

// Same scheme, host and port (a missing port counts as the scheme's own).
bool sameOrigin(const QUrl &a, const QUrl &b);

// Gives the engine network access managers that follow same-origin
// redirects only; a redirect elsewhere ends the request with an error.
void installNetworkAccess(QQmlEngine &engine);

} // namespace velmor::app
