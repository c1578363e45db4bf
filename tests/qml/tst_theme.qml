import QtQuick
import QtTest
import Velmor

Item {
    id: host

    // A binding on a token follows toggle() without any help from the user.
    Rectangle {
        id: follower
        color: Theme.windowBg
        width: Theme.space20
    }

    TestCase {
        name: "Theme"

        function init() {
            failOnWarning(/.*/)
            if (Theme.dark)
                Theme.toggle()
        }

        function cleanup() {
            if (Theme.dark)
                Theme.toggle()
        }

        function test_toggleRoundTrip() {
            compare(Theme.dark, false)
            verify(Qt.colorEqual(Theme.windowBg, "#ffffff"))
            verify(Qt.colorEqual(Theme.textPrimary, "#000000"))
            verify(Qt.colorEqual(follower.color, "#ffffff"))
            Theme.toggle()
            compare(Theme.dark, true)
            verify(Qt.colorEqual(Theme.windowBg, "#17212b"))
            verify(Qt.colorEqual(Theme.textPrimary, "#f5f5f5"))
            verify(Qt.colorEqual(follower.color, "#17212b"), "bindings follow the toggle")
            Theme.toggle()
            compare(Theme.dark, false)
            verify(Qt.colorEqual(Theme.windowBg, "#ffffff"))
            verify(Qt.colorEqual(follower.color, "#ffffff"))
        }

        function test_pairedTokens_data() {
            return [
                { tag: "accent", light: "#40a7e3", dark: "#5288c1" },
                { tag: "avatarBg", light: "#5caffa", dark: "#2b5278" },
                { tag: "bubbleIn", light: "#ffffff", dark: "#182533" },
                { tag: "bubbleOut", light: "#effdde", dark: "#2b5278" },
                { tag: "bubbleTextOut", light: "#000000", dark: "#e4ecf2" },
                { tag: "bubbleTick", light: "#57b84c", dark: "#6bbfff" },
                { tag: "bubbleTimeIn", light: "#a0acb6", dark: "#6d7f8f" },
                { tag: "bubbleTimeOut", light: "#6db566", dark: "#7da8d3" },
                { tag: "buttonBg", light: "#f1f1f1", dark: "#232e3c" },
                { tag: "cardBg", light: "#ffffff", dark: "#182533" },
                { tag: "hoverBg", light: "#f1f1f1", dark: "#202b36" },
                { tag: "linkFg", light: "#168acd", dark: "#70baf5" },
                { tag: "listBgActive", light: "#419fd9", dark: "#2b5278" },
                { tag: "panelBg", light: "#ffffff", dark: "#17212b" },
                { tag: "placeholder", light: "#999999", dark: "#6d7883" },
                { tag: "searchBorder", light: "#54c3f3", dark: "#242f3d" },
                { tag: "textBold", light: "#222222", dark: "#e9e8e8" },
                { tag: "textMuted", light: "#999999", dark: "#708499" },
                { tag: "unreadBgMuted", light: "#bbbbbb", dark: "#3e546a" },
                { tag: "accentDown", light: "#2095d0", dark: "#3b7cb1" },
                { tag: "chatCanvas", light: "#d9e4dc", dark: "#0e1621" }
            ]
        }

        function test_pairedTokens(data) {
            verify(Qt.colorEqual(Theme[data.tag], data.light), data.tag + " light is " + Theme[data.tag])
            Theme.toggle()
            verify(Qt.colorEqual(Theme[data.tag], data.dark), data.tag + " dark is " + Theme[data.tag])
        }

        function test_fixedTokensIgnoreToggle() {
            var fixed = { "danger": "#dd4b39", "onlineBadge": "#4dc920", "warning": "#d09306",
                          "premium": "#f4b53f", "premiumPlus": "#ff453a", "scrim": "#0000007f" }
            for (var pass = 0; pass < 2; ++pass) {
                for (var k in fixed)
                    verify(Qt.colorEqual(Theme[k], fixed[k]), k + " in pass " + pass)
                Theme.toggle()
            }
            var ints = { "fontCaption": 11, "fontFootnote": 12, "fontBody": 13, "fontCallout": 14,
                         "fontTitle3": 17, "fontTitle2": 18, "fontTitle1": 26, "space2": 2, "space4": 4,
                         "space8": 8, "space12": 12, "space16": 16, "space20": 20, "space24": 24,
                         "space32": 32, "radiusSmall": 8, "radiusMedium": 12, "radiusLarge": 16,
                         "radiusSheet": 22, "controlHeight": 40, "rowHeight": 62, "avatarSmall": 33,
                         "avatarMedium": 46, "avatarLarge": 72, "topBarHeight": 54,
                         "unreadBadgeHeight": 19, "bubbleMaxWidth": 430, "bubbleMinWidth": 160,
                         "durationFast": 100, "durationNormal": 180, "durationSheet": 240 }
            for (var n in ints)
                compare(Theme[n], ints[n], n)
        }

        function test_peerColors() {
            var light = ["#c03d33", "#4fad2d", "#d09306", "#168acd", "#8544d6", "#cd4073", "#2996ad", "#ce671b"]
            compare(Theme.peerColors.length, 8)
            for (var i = 0; i < 8; ++i)
                verify(Qt.colorEqual(Theme.peerColors[i], light[i]), "light " + i)
            Theme.toggle()
            for (var j = 0; j < 8; ++j) {
                var want = j === 3 ? "#6ab3f3" : light[j]
                verify(Qt.colorEqual(Theme.peerColors[j], want), "dark " + j)
            }
            compare(Theme.peerAvatarColors.length, 8)
            verify(Qt.colorEqual(Theme.peerAvatarColors[0], "#ff845e"))
        }

        function test_eightDigitColoursAreAlphaFirst() {
            // "#AARRGGBB": the first byte is the alpha.
            compare(Theme.scrim.a, 0)
            compare(Theme.border.a, 0)
            compare(Theme.shadow.a, 0)
            compare(Theme.panelBgAlpha.a, 1)
            fuzzyCompare(Theme.panelBgAlpha.b, 0xf2 / 255, 0.002)
            fuzzyCompare(Theme.serviceBg.a, 0x51 / 255, 0.002)
            fuzzyCompare(Theme.serviceBg.r, 0x7c / 255, 0.002)
            fuzzyCompare(Theme.bubbleShadowIn.a, 0x74 / 255, 0.002)
            fuzzyCompare(Theme.bubbleShadowIn.r, 0x8e / 255, 0.002)
            fuzzyCompare(Theme.bubbleShadowIn.g, 0xa2 / 255, 0.002)
            fuzzyCompare(Theme.bubbleShadowIn.b, 0x29 / 255, 0.002)
            Theme.toggle()
            fuzzyCompare(Theme.border.a, 0x04 / 255, 0.002)
            fuzzyCompare(Theme.border.b, 0x56 / 255, 0.002)
            compare(Theme.bubbleShadowOut.a, 0)
            fuzzyCompare(Theme.serviceBg.a, 0x21 / 255, 0.002)
        }

        function test_shadowOpacity() {
            fuzzyCompare(Theme.shadowOpacity, 0.16, 1e-9)
            Theme.toggle()
            fuzzyCompare(Theme.shadowOpacity, 0.42, 1e-9)
        }
    }
}
