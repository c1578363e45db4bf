import QtQuick
import QtTest
import Velmor

// Checks of what the shader path actually draws. The offscreen platform
// skips shader effects, so these run only on a real window system (ctest
// starts them under Xvfb) and skip themselves offscreen.
Rectangle {
    id: host
    width: 240
    height: 80
    color: "#000000"

    Row {
        TgIcon { id: opaqueIcon; name: "pause"; size: 48; color: "#ff0000" }
        TgIcon { id: halfIcon; name: "pause"; size: 48; color: "#80ff0000" }
        TgIcon { id: clearIcon; name: "pause"; size: 48; color: "transparent" }
        TgIcon { id: paleIcon; name: "pause"; size: 48; color: "#d9ffffff" }
        TgIcon { id: forward; name: "back"; size: 48; rotationAngle: 180; color: "#ffffff" }
    }

    TestCase {
        name: "Rendered"
        when: windowShown

        function init() {
            if (Qt.platform.pluginName === "offscreen")
                skip("shader effects are not drawn by the offscreen platform")
            failOnWarning(/.*/)
        }

        function pixelOf(img, item, x, y) {
            var p = item.mapToItem(host, x, y)
            return img.pixel(Math.round(p.x), Math.round(p.y))
        }

        function compareRgb(c, r, g, b, what) {
            var tol = 4 / 255
            verify(Math.abs(c.r - r / 255) <= tol && Math.abs(c.g - g / 255) <= tol
                   && Math.abs(c.b - b / 255) <= tol,
                   what + ": got " + c + ", want rgb(" + r + "," + g + "," + b + ")")
        }

        function grabReady() {
            tryVerify(function () {
                return findChild(opaqueIcon, "iconImage").status === Image.Ready
                    && findChild(forward, "iconImage").status === Image.Ready
            })
            wait(50)
            return grabImage(host)
        }

        // (16, 24) lies inside the left bar of "pause" at size 48.
        function test_iconTintKeepsColourAlpha() {
            var img = grabReady()
            compareRgb(pixelOf(img, opaqueIcon, 16, 24), 255, 0, 0, "opaque red")
            compareRgb(pixelOf(img, halfIcon, 16, 24), 128, 0, 0, "half red over black")
            compareRgb(pixelOf(img, clearIcon, 16, 24), 0, 0, 0, "transparent draws nothing")
            compareRgb(pixelOf(img, paleIcon, 16, 24), 217, 217, 217, "white at 0xd9 over black")
            // Outside the glyph nothing is drawn whatever the colour.
            compareRgb(pixelOf(img, opaqueIcon, 24, 4), 0, 0, 0, "gap above the bars")
        }

        // "back" turned half a turn about its centre points to the right:
        // the upper stroke of the head ends near x 27 instead of x 21.
        function test_rotatedIconTurnsAboutItsCentre() {
            var img = grabReady()
            verify(pixelOf(img, forward, 27, 12).r > 0.5, "head of the turned arrow on the right")
            verify(pixelOf(img, forward, 21, 12).r < 0.2, "nothing where the unturned head would be")
            verify(pixelOf(img, forward, 39, 24).r > 0.5, "tip on the right edge")
        }
    }
}
