import QtQuick
import QtQuick.Controls
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The sidebar logo on its own surface: it must stay where the header puts
// it, give way to whatever is drawn over it, and play only while the window
// is active. Needs a real window system (ctest starts it under Xvfb).
Item {
    id: host
    width: 400
    height: 300

    Rectangle {
        id: card
        width: 300
        height: 280
        radius: 16
        clip: true
        gradient: Gradient {
            id: cardGradient
            GradientStop { position: 0.0; color: "#5f608b" }
            GradientStop { position: 1.0; color: "#a287b3" }
        }
        SidebarHeader {
            id: header
            x: 15
            width: 270
            height: 86
            backdrop: card
        }
    }

    Popup { id: popup; modal: true; dim: true; x: 250; y: 200; width: 60; height: 60 }
    Component { id: coverComponent; Rectangle { x: 40; y: 40; width: 30; height: 30; color: "red" } }
    // Beside the test's window, not over it.
    Component { id: otherWindow; Window { x: 700; width: 100; height: 100; visible: true } }
    // A window just shown, and an animation that makes it draw frame after
    // frame while it runs.
    Component {
        id: freshWindow
        Window {
            width: 320; height: 120; visible: true; color: "#5f608b"
            property alias header: freshHeader
            property alias busy: spin.running
            SidebarHeader { id: freshHeader; x: 15; width: 270; height: 86 }
            Rectangle { y: 100; width: 4; height: 4; NumberAnimation on x { id: spin; to: 300; loops: Animation.Infinite } }
        }
    }

    TestCase {
        name: "WindowPatch"
        when: windowShown

        property Item patch: findChild(header, "sideLogoPatch")

        function init() {
            if (Qt.platform.pluginName === "offscreen")
                skip("the software scene graph of the offscreen platform needs no surface")
            failOnWarning(/.*/)
            host.Window.window.requestActivate()
            tryCompare(patch, "onSurface", true)
            header.x = 15
        }

        function surfaceAt() {
            var surface = patch.surface
            verify(surface !== null && surface !== host.Window.window, "the logo is on a window of its own")
            return Qt.point(surface.x, surface.y)
        }

        // The surface is painted by this thread: the process draws with one
        // render thread, the window's, however long the logo plays.
        function test_noRenderThreadOfItsOwn() {
            verify(patch.surface.contentItem === undefined, "not a Qt Quick window")
            wait(100)
            compare(Process.renderThreads(), 1)
        }

        // What the surface shows is what the window shows with the logo in
        // its scene: the same frame over the same part of the card. The logo
        // stands still meanwhile (another window is active).
        function test_surfaceShowsWhatTheWindowWould() {
            var other = createTemporaryObject(otherWindow, null)
            other.requestActivate()
            tryCompare(findChild(header, "logoTimer"), "running", false)
            var at = patch.mapToGlobal(0, 0)
            wait(100)
            var onSurface = Process.screenArea(at.x, at.y, patch.width, patch.height)
            patch.detached = false
            tryCompare(patch, "onSurface", false)
            waitForRendering(host)
            wait(100)
            var inScene = Process.screenArea(at.x, at.y, patch.width, patch.height)
            patch.detached = true
            var difference = Process.largestDifference(onSurface, inScene)
            verify(difference >= 0 && difference <= 12, "largest difference of a channel: " + difference)
            tryCompare(patch, "onSurface", true)
        }

        function test_surfaceFollowsTheHeader() {
            var at = patch.mapToItem(null, 0, 0)
            compare(surfaceAt(), Qt.point(at.x, at.y))
            header.x = 55
            tryVerify(function () { return surfaceAt().x === at.x + 40 })
        }

        // While anything is drawn over the logo, or the card fades it or
        // cuts it off, the window draws it, and it waits (each of its frames
        // would redraw the whole window); after that its surface again.
        function test_logoReturnsToTheScene_data() {
            return [{ tag: "popup" }, { tag: "item over it" }, { tag: "faded" }, { tag: "cut off" }]
        }

        function test_logoReturnsToTheScene(data) {
            var cover = null
            if (data.tag === "popup")
                popup.open()
            else if (data.tag === "item over it")
                cover = coverComponent.createObject(host)
            else if (data.tag === "faded")
                card.opacity = 0.5
            else
                card.height = 40
            tryCompare(patch, "onSurface", false)
            compare(patch.content.Window.window, host.Window.window)
            var timer = findChild(header, "logoTimer")
            compare(timer.running, false)
            if (cover)
                cover.destroy()
            popup.close()
            card.opacity = 1
            card.height = 280
            tryCompare(patch, "onSurface", true)
            verify(timer.running)
        }

        function test_logoPlaysOnlyWhileActive() {
            var timer = findChild(header, "logoTimer")
            verify(timer.running)
            var from = patch.content.idx
            timer.triggered()
            compare(patch.content.idx, (from + 1) % 49)
            var other = createTemporaryObject(otherWindow, null)
            waitForRendering(other.contentItem)
            other.requestActivate()
            tryCompare(other, "active", true)
            tryCompare(timer, "running", false)
            host.Window.window.requestActivate()
            tryCompare(timer, "running", true)
        }

        // The surface's first frame holds the window's thread: not while the
        // window starts, but once it has gone quiet, or in the end even if
        // it never does.
        function test_surfaceWaitsForTheWindowToSettle_data() {
            return [{ tag: "quiet window", busy: false }, { tag: "window that keeps drawing", busy: true }]
        }

        function test_surfaceWaitsForTheWindowToSettle(data) {
            var fresh = createTemporaryObject(freshWindow, null, { "busy": data.busy })
            var freshPatch = findChild(fresh.header, "sideLogoPatch")
            waitForRendering(fresh.contentItem)
            verify(!freshPatch.onSurface && !freshPatch.playable, "not with the window's first frames")
            tryCompare(freshPatch, "onSurface", true, 5000)
        }
    }
}
