// What the views may fetch over the network (avatars, pictures of group
// servers) goes through net::PictureAccessManager (net/picture_access.h):
// bounded from an answer's first byte, redirected only to the origin it was
// asked of, never waiting on the thread that asked.
#pragma once

class QQmlEngine;

namespace velmor::app {

// Gives the engine, and each of its loader threads, such a manager.
void installNetworkAccess(QQmlEngine &engine);

} // namespace velmor::app
