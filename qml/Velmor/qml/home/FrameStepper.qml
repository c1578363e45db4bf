import QtQuick
import "frameClock.js" as FrameClock

// Emits `stepped` once every `period` milliseconds of the shared clock
// while `running`. A stepper that does not run is not counted by the clock,
// so an animation that cannot be seen keeps it from ticking. Its owner keeps
// its own frame number: a paused animation stays on the frame it showed.
QtObject {
    id: stepper

    property bool running: false
    // Milliseconds a step; one shorter than the clock's 42 steps every tick.
    property int period: 42

    signal stepped()

    // Clock time gathered towards the next step.
    property int _time: 0
    property bool _joined: false

    function _sync() {
        if (running && !_joined) {
            _joined = true
            FrameClock.follow()
        } else if (!running && _joined) {
            _joined = false
            FrameClock.unfollow()
        }
    }

    // At most one step a tick: a period shorter than the clock's steps every
    // tick, a longer one spreads its steps over the ticks.
    function advance(ms) {
        _time += ms
        if (_time < period)
            return
        _time = Math.min(_time - period, period)
        stepped()
    }

    onRunningChanged: _sync()
    Component.onCompleted: _sync()
    Component.onDestruction: {
        if (_joined) {
            _joined = false
            FrameClock.unfollow()
        }
    }

    property Connections _link: Connections {
        target: stepper._joined ? FrameClock.clock() : null
        function onTriggered() { stepper.advance(FrameClock.clock().interval) }
    }
}
