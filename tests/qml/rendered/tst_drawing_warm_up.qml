import QtQuick
import QtTest
import Velmor

// The samples drawn after a window's first frame, ahead of a view's build:
// whatever the window does, `done` comes (a start waits for it to build the
// home view), the samples go once drawn, and a change asked for while they
// were drawn is drawn after them. Needs a real window system.
TestCase {
    name: "DrawingWarmUp"
    when: windowShown

    Component {
        id: windowComponent
        Window {
            id: window
            property alias warmUp: warmUp
            property alias marker: marker
            property int frames: 0
            width: 200; height: 120; color: "#5f608b"
            onFrameSwapped: frames++
            Rectangle { id: marker; width: 20; height: 20; color: "red" }
            DrawingWarmUp {
                id: warmUp
                x: -width - 10
                width: 60; height: 40
                // A change in the samples' frame, while their drawing holds
                // the window's update requests.
                onDoneChanged: if (window.visible) marker.color = "blue"
                samples: Row {
                    objectName: "samples"
                    Rectangle { width: 20; height: 20; radius: 10; color: "white" }
                    Text { text: "Ag 09:41"; font.pixelSize: 13 }
                }
            }
        }
    }

    function init() {
        if (Qt.platform.pluginName === "offscreen")
            skip("the offscreen platform draws in software: there is nothing to warm up")
    }

    function test_doneWhateverTheWindowDoes_data() {
        return [
            { tag: "shown", visible: true, active: true, done: true, samples: true },
            { tag: "asked for once drawn", visible: true, active: "late", done: true, samples: true },
            { tag: "never shown", visible: false, active: true, done: true, samples: false },
            { tag: "not asked for", visible: true, active: false, done: false, samples: false }
        ]
    }

    function test_doneWhateverTheWindowDoes(data) {
        var window = createTemporaryObject(windowComponent, null, { visible: data.visible })
        window.warmUp.active = data.active === true
        var made = false
        window.warmUp.childrenChanged.connect(function () {
            made = made || findChild(window.warmUp, "samples") !== null
        })
        var framesAtDone = -1
        window.warmUp.doneChanged.connect(function () { framesAtDone = window.frames })
        if (data.active === "late") {
            tryVerify(function () { return window.frames > 0 })
            window.warmUp.active = true
        }
        // Past the wait for a window that draws nothing (400 ms).
        wait(800)
        compare(window.warmUp.done, data.done)
        compare(made, data.samples)
        tryVerify(function () { return window.warmUp.children.length === 0 })
        // The samples' frame, then one with the change made meanwhile.
        if (data.samples)
            tryVerify(function () { return window.frames >= framesAtDone + 2 })
    }
}
