.pragma library

// The one clock of the views' frame animations: animated avatars, rail
// icons, the voice room's faces and banner, each following it through a
// FrameStepper. It ticks only while at least one stepper runs (something
// animated is shown) and the application's window is active: an idle window,
// or one that is not active, gets no wake-ups from these animations, and any
// number of playing avatars share one timer. A library script has one
// instance per engine, so every view shares the same clock.

var _clock = null

// The clock: a Timer whose `followers` counts the running steppers. Made on
// first use and kept by the application object for the engine's life.
function clock() {
    if (_clock === null)
        _clock = Qt.createQmlObject(
            'import QtQuick; Timer { objectName: "frameClock"; property int followers: 0; ' +
            'interval: 42; repeat: true; ' +
            'running: followers > 0 && Qt.application.state === Qt.ApplicationActive }',
            Qt.application, "frameClock.js")
    return _clock
}

function follow() { clock().followers += 1 }

function unfollow() {
    var c = clock()
    if (c.followers > 0)
        c.followers -= 1
}
