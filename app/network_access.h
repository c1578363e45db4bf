// What the views may fetch over the network (avatars, pictures of group
// servers): a redirect is followed only to the origin the request was made
// to. An address that passed the same-origin check of a group server must
// not lead the window to a third party. An answer is bounded at the socket:
// one over the size a picture may have (stated or sent) is broken off.
#pragma once

class QQmlEngine;

namespace velmor::app {

// Gives the engine network access managers that follow same-origin
// redirects only; a redirect elsewhere ends the request with an error.
void installNetworkAccess(QQmlEngine &engine);

} // namespace velmor::app
