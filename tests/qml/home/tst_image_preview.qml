import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"

// The image preview: which images it steps through, zoom limits, panning
// only while zoomed in, and what closes it.
Item {
    id: host
    width: 900
    height: 700

    readonly property string imgA: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAACgAAAAeCAIAAADRv8uKAAAAK0lEQVR4nO3NMQ0AAAgDsAlDBLKRhQw4mvRvputExGKxWCwWi8VisVj8N16lBjobMdsyEQAAAABJRU5ErkJggg=="
    readonly property string imgB: "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAB4AAAA8CAIAAAD+Np3IAAAAMklEQVR4nO3MMQ0AAAgDsAlDGBKRhQoe0qR3Uz1Holar1Wq1Wq1Wq9VqtVqtVqvV3+oFzVVwd2ZQ3s8AAAAASUVORK5CYII="
    readonly property string imgC: imgA + "#c"

    Component { id: previewComponent; ImagePreview {} }

    TestCase {
        name: "ImagePreview"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset()
            Chat.messages = [
                { "id": "1", "kind": "image", "imageSrc": host.imgA },
                { "id": "2", "kind": "text", "text": "hi", "imageSrc": host.imgB },
                { "id": "3", "kind": "image", "imageSrc": "" },
                { "id": "4", "kind": "image", "imageSrc": host.imgB },
                { "id": "5", "kind": "image", "imageSrc": host.imgC }
            ]
        }

        function cleanup() {
            Chat.messages = []
            Chat.currentPeer = ""
        }

        function makePreview() {
            var p = createTemporaryObject(previewComponent, host)
            verify(p)
            return p
        }

        function openShown(p, src) {
            p.openAt(src)
            tryCompare(p, "opened", true)
            var picture = findChild(p.contentItem, "previewImage")
            tryCompare(picture, "status", Image.Ready)
            return picture
        }

        function test_openAt_data() {
            return [
                { tag: "first", src: host.imgA, index: 0 },
                { tag: "second", src: host.imgB, index: 1 },
                { tag: "not among them", src: "data:image/png;base64,AAAA", index: 0 }
            ]
        }

        function test_openAt(data) {
            var p = makePreview()
            p.openAt(data.src)
            compare(p.sources, [host.imgA, host.imgB, host.imgC])
            compare(p.currentIndex, data.index)
            compare(p.source, data.src)
            compare(p.zoom, 1)
            verify(p.visible)
            // Stepping moves through the conversation's images.
            p.move(1)
            compare(p.source, p.sources[(data.index + 1) % 3])
        }

        // The viewer steps through every image the store names, loaded or
        // not; one not loaded is asked for in the open conversation.
        function test_stepsThroughEveryStoredImage_data() {
            var store = function (id) { return "image://chatimage/sg%3Ahttp%3A%2F%2Fh/" + id }
            return [
                { tag: "older images not loaded", ids: ["old1", "old2", "1", "4", "5"], open: host.imgB,
                  sources: [store("old1"), store("old2"), host.imgA, host.imgB, host.imgC], index: 3 },
                { tag: "newer image not yet in the list", ids: ["1", "4", "5", "new"], open: host.imgC,
                  sources: [host.imgA, host.imgB, host.imgC, store("new")], index: 2 },
                { tag: "an id that needs escaping", ids: ["a/b c?d", "1"], open: host.imgA,
                  sources: [store("a%2Fb%20c%3Fd"), host.imgA], index: 1 }
            ]
        }
        function test_stepsThroughEveryStoredImage(data) {
            Chat.returns = { "conversationImageIds": data.ids }
            Chat.currentPeer = "sg:http://h"
            var p = makePreview()
            p.openAt(data.open)
            compare(p.sources, data.sources)
            compare(p.currentIndex, data.index)
            var n = data.sources.length
            for (var step = 1; step <= n; ++step) {
                p.move(-1)
                compare(p.source, data.sources[((data.index - step) % n + n) % n], "back " + step)
            }
        }

        function test_steppingWraps_data() {
            return [
                { tag: "back from the first", start: 0, delta: -1, index: 2 },
                { tag: "forward from the last", start: 2, delta: 1, index: 0 },
                { tag: "forward", start: 0, delta: 1, index: 1 }
            ]
        }

        function test_steppingWraps(data) {
            var p = makePreview()
            p.openAt(p.collectSources()[data.start])
            p.zoom = 3
            p.panX = 40
            p.move(data.delta)
            compare(p.currentIndex, data.index)
            compare(p.source, p.sources[data.index])
            compare([p.zoom, p.panX, p.panY, p.baseX, p.baseY], [1, 0, 0, 0, 0])
        }

        function test_buttonsStep() {
            var p = makePreview()
            openShown(p, host.imgA)
            mouseClick(findChild(p.contentItem, "previousButton"))
            compare(p.currentIndex, 2)
            mouseClick(findChild(p.contentItem, "nextButton"))
            mouseClick(findChild(p.contentItem, "nextButton"))
            compare(p.currentIndex, 1)
        }

        function test_oneImageHasNoSteps() {
            Chat.messages = [{ "id": "1", "kind": "image", "imageSrc": host.imgA }]
            var p = makePreview()
            openShown(p, host.imgA)
            compare(findChild(p.contentItem, "previousButton"), null)
            compare(findChild(p.contentItem, "nextButton"), null)
            p.move(1)
            compare(p.currentIndex, 0)
            compare(p.source, host.imgA)
        }

        function test_zoomLimits_data() {
            return [
                { tag: "in beyond 5", angle: 120, steps: 30, zoom: 5, label: "500%" },
                { tag: "out beyond 0.2", angle: -120, steps: 30, zoom: 0.2, label: "20%" },
                { tag: "one step in", angle: 120, steps: 1, zoom: 1.12, label: "112%" },
                { tag: "one step out", angle: -120, steps: 1, zoom: 0.89, label: "89%" }
            ]
        }

        function test_zoomLimits(data) {
            var p = makePreview()
            openShown(p, host.imgA)
            var stage = p.contentItem
            for (var i = 0; i < data.steps; ++i)
                mouseWheel(stage, 20, 20, 0, data.angle)
            fuzzyCompare(p.zoom, data.zoom, 1e-9)
            var label = findChild(stage, "zoomLabel")
            verify(label.visible)
            compare(label.children[0].text, data.label)
        }

        function test_zoomingOutRecentres() {
            var p = makePreview()
            openShown(p, host.imgA)
            p.zoom = 2
            p.panX = 30; p.panY = -20; p.baseX = 30; p.baseY = -20
            mouseWheel(p.contentItem, 20, 20, 0, -120)
            compare([p.panX, p.panY, p.baseX, p.baseY], [30, -20, 30, -20])
            for (var i = 0; i < 8; ++i)
                mouseWheel(p.contentItem, 20, 20, 0, -120)
            verify(p.zoom < 1)
            compare([p.panX, p.panY, p.baseX, p.baseY], [0, 0, 0, 0])
            var box = findChild(p.contentItem, "imageBox")
            compare(box.x + box.width / 2, p.width / 2)
        }

        function test_dragOnlyWhenZoomedIn_data() {
            return [
                { tag: "at 1", zoom: 1, moved: false },
                { tag: "below 1", zoom: 0.5, moved: false },
                { tag: "at 2", zoom: 2, moved: true }
            ]
        }

        function test_dragOnlyWhenZoomedIn(data) {
            var p = makePreview()
            openShown(p, host.imgA)
            p.zoom = data.zoom
            var stage = p.contentItem
            var area = findChild(stage, "imageArea")
            var c = area.mapToItem(stage, area.width / 2, area.height / 2)
            mousePress(stage, c.x, c.y)
            mouseMove(stage, c.x + 20, c.y + 10)
            mouseMove(stage, c.x + 40, c.y + 30)
            mouseRelease(stage, c.x + 40, c.y + 30)
            if (data.moved) {
                fuzzyCompare(p.panX, 40, 1)
                fuzzyCompare(p.panY, 30, 1)
                compare([p.baseX, p.baseY], [p.panX, p.panY])
            } else {
                compare([p.panX, p.panY], [0, 0])
            }
            verify(p.opened)
        }

        function test_clicks() {
            var p = makePreview()
            openShown(p, host.imgA)
            var area = findChild(p.contentItem, "imageArea")
            mouseClick(area)
            verify(p.opened)
            p.zoom = 2.5
            p.panX = 12
            mouseDoubleClickSequence(area)
            compare([p.zoom, p.panX], [1, 0])
            verify(p.opened)
            mouseClick(p.contentItem, 10, 10)
            tryCompare(p, "visible", false)
        }

        function test_closeButtonOnTheCorner() {
            var p = makePreview()
            openShown(p, host.imgA)
            var box = findChild(p.contentItem, "imageBox")
            var button = findChild(p.contentItem, "closeButton")
            compare(button.x + 15, box.x + box.width)
            compare(button.y + 15, box.y)
            mouseClick(button)
            tryCompare(p, "visible", false)
        }

        function test_fitAndUnknownSize() {
            var p = makePreview()
            openShown(p, host.imgA)
            var box = findChild(p.contentItem, "imageBox")
            // 40 x 30 in a 900 x 700 viewer: min(680 / 40, 540 / 30) = 17.
            compare(p.width, host.width)
            compare([box.width, box.height], [680, 510])
            p.source = ""
            compare([box.width, box.height], [80, 80])
        }
    }
}
