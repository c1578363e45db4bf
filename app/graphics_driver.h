// The OpenGL driver's set-up for the program's display, asked for on the
// pool as soon as the application exists (see graphics_driver.cpp).
#pragma once

namespace velmor::app {

// Does nothing unless the windows draw with OpenGL on an X display.
void prepareGraphicsDriver();

} // namespace velmor::app
