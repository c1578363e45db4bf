// The OpenGL driver's set-up for the program's display, asked for on the
// pool as soon as the application exists, and the threading question Qt
// asks of it skipped where the answer is known (see graphics_driver.cpp).
#pragma once

namespace velmor::app {

// Does nothing unless the windows draw with OpenGL on an X display.
void prepareGraphicsDriver();

// Writes the environment: called before any thread runs and before the
// application is made.
void skipThreadingQuestionWithoutGraphicsDevice();

} // namespace velmor::app
