import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/frameClock.js" as FrameClock

// The shared clock of the frame animations: it must stop once nothing
// animated shows, whatever order animations start, stop and go away in.
Item {
    id: host
    width: 300
    height: 200

    Component { id: stepperComponent; FrameStepper {} }
    Component { id: avatarComponent; CircleAvatar { width: 46; height: 46 } }
    Component { id: spyComponent; SignalSpy {} }

    TestCase {
        name: "FrameClock"
        when: windowShown

        function init() { compare(FrameClock.clock().followers, 0, "a previous case left followers") }

        // Steps: "+i" starts stepper i, "-i" stops it, "xi" destroys it.
        function test_followersCounted_data() {
            return [
                { tag: "start and stop", steps: ["+0", "-0"], counts: [1, 0] },
                { tag: "started twice counts once", steps: ["+0", "+0", "+1", "-0", "-0"], counts: [1, 1, 2, 1, 1] },
                { tag: "destroyed while running", steps: ["+0", "+1", "x0", "x1"], counts: [1, 2, 1, 0] },
                { tag: "destroyed while stopped", steps: ["+0", "-0", "x0"], counts: [1, 0, 0] },
                { tag: "stopped twice", steps: ["+0", "-0", "-0", "+1"], counts: [1, 0, 0, 1] }
            ]
        }

        function test_followersCounted(data) {
            var steppers = [stepperComponent.createObject(host), stepperComponent.createObject(host)]
            for (var i = 0; i < data.steps.length; ++i) {
                var n = Number(data.steps[i][1])
                var op = data.steps[i][0]
                if (op === "+") steppers[n].running = true
                else if (op === "-") steppers[n].running = false
                else { steppers[n].destroy(); steppers[n] = null; wait(0) }
                compare(FrameClock.clock().followers, data.counts[i], data.steps[i])
                compare(FrameClock.clock().running, data.counts[i] > 0 && Qt.application.state === Qt.ApplicationActive)
            }
            steppers.forEach(function(s) { if (s) s.destroy() })
            wait(0)
        }

        // Steps over 21 ticks of the 42 ms clock.
        function test_stepsPerPeriod_data() {
            return [
                { tag: "clock rate", period: 42, steps: 21 },
                { tag: "faster than the clock: once a tick", period: 16, steps: 21 },
                { tag: "just faster than the clock", period: 40, steps: 21 },
                { tag: "80 ms", period: 80, steps: 11 },
                { tag: "a second", period: 1000, steps: 0 }
            ]
        }

        function test_stepsPerPeriod(data) {
            var s = stepperComponent.createObject(host, { "period": data.period, "running": true })
            var spy = spyComponent.createObject(host, { "target": s, "signalName": "stepped" })
            for (var i = 0; i < 21; ++i)
                FrameClock.clock().triggered()
            compare(spy.count, data.steps)
            s.destroy()
            spy.destroy()
            wait(0)
        }

        // Hidden or still avatars follow no clock and keep their frame.
        function test_avatarsFollowOnlyWhileTheyPlay_data() {
            return [
                { tag: "playing head", props: { "avatarId": "lottiehead_05" }, follows: true },
                { tag: "hidden head", props: { "avatarId": "lottiehead_05", "visible": false }, follows: false },
                { tag: "head not animated", props: { "avatarId": "lottiehead_05", "animate": false }, follows: false },
                { tag: "still picture", props: { "avatarId": "avatar_boys_001" }, follows: false },
                { tag: "official account", props: { "special": true, "specialDir": "tabbar_profile_frames", "specialFrames": 49 }, follows: true }
            ]
        }

        function test_avatarsFollowOnlyWhileTheyPlay(data) {
            var a = avatarComponent.createObject(host, data.props)
            compare(FrameClock.clock().followers, data.follows ? 1 : 0)
            a._f = 3
            FrameClock.clock().triggered()
            compare(a._f, data.follows ? 4 : 3)
            a.visible = false
            compare(FrameClock.clock().followers, 0)
            FrameClock.clock().triggered()
            compare(a._f, data.follows ? 4 : 3, "a paused avatar stays on its frame")
            a.destroy()
            wait(0)
        }
    }
}
