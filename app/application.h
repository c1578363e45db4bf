// The program's start-up: the application object, the controllers the views
// see ("App", "Chat", "Voice", "VoiceRoom"), the desktop notifier and the QML
// engine, wired together, then the window and the event loop. main() runs it
// with the module's window; tests and benchmarks run it with a hook or
// another window.
#pragma once

#include <QUrl>

#include <functional>

class AppController;
class ChatController;
class QQmlApplicationEngine;
class VoiceIO;
class VoiceRoomController;

namespace velmor::app {

// The window of the QML module Velmor (Qt 6.4 has no loadFromModule).
QUrl mainWindowUrl();

struct StartOptions
{
    QUrl window = mainWindowUrl();
    // Called once the application object exists, before the controllers
    // and the window are made.
    std::function<void()> afterApplication;
    // Called once the window is loaded and before the event loop runs.
    std::function<void(QQmlApplicationEngine &, AppController &)> afterLoad;
};

// The connections between the controllers: a sign-in starts the chat
// session, the chat session's realtime events reach the voice rooms, each
// start or recovery of the session reads the room status again, and log-out
// first leaves the room and stops playback.
void connectControllers(AppController &app, ChatController &chat, VoiceIO &voice,
                        VoiceRoomController &voiceRoom);

// Everything main() does; returns the event loop's exit code, -1 when the
// window could not be created.
int runApplication(int &argc, char **argv, const StartOptions &options = {});

} // namespace velmor::app
