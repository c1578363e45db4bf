// The display going away under the running program (the X server killed or
// crashed, a remote session cut off): the program leaves its event loop with
// a non-zero status and ends through its normal quit path, instead of being
// ended from inside Qt's platform code or Xlib while its threads still run.
#pragma once

#include <memory>

class QQmlApplicationEngine;

namespace velmor::app {

// Exit status of a program whose display went away.
constexpr int kDisplayLostExitCode = 1;

// Call once the application object exists, on its thread. Does nothing on a
// platform other than X11 (xcb).
void watchDisplayLoss();

// Whether the display went away.
bool displayLost();

// After the display's loss, once the event loop has ended: the views the
// engine made go (nothing of them is left to react while the controllers
// end), and the windows themselves, their OpenGL contexts and render threads
// are left as they are: tearing those down calls into Xlib, which after a
// broken connection can wait for ever.
void dropViewsKeepWindows(std::unique_ptr<QQmlApplicationEngine> engine);

// The end of the quit path after the display's loss: the application object
// is not destroyed (it would close the display through Xlib).
[[noreturn]] void endWithoutDisplay(int exitCode);

} // namespace velmor::app
