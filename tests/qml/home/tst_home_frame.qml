import QtQuick
import QtTest
import Velmor

// The home view's frame: geometry in both window states, window buttons,
// the chat session start, the page buttons and the conversation reset.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    TestCase {
        name: "HomeFrame"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); Voice.reset(); VoiceRoom.reset()
            Chat.currentPeer = ""; Chat.currentTitle = ""; Chat.currentGroupKind = ""
            Chat.currentOfficial = false
            Chat.conversations = []; Chat.messages = []
            Chat.notificationCount = 0
            Voice.playing = false
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function cleanup() {
            if (host.Window.window.visibility === Window.FullScreen)
                host.Window.window.showNormal()
        }

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        function test_windowedGeometry() {
            var home = makeHome()
            verify(!home.full)
            var side = findChild(home, "sideCard")
            compare([side.x, side.y, side.width, side.height], [24, 63, 300, 691])
            var main = findChild(home, "mainCard")
            compare([main.x, main.y, main.width, main.height], [64, 24, 1024, 768])
            compare(main.radius, 12)
            verify(main.shadowShown)
            var pane = findChild(home, "chatPane")
            compare(main.x + pane.x, 352)
            compare(main.y + pane.y, 63)
            var buttons = findChild(home, "windowButtons")
            compare([buttons.x, buttons.y], [78, 37])
            verify(findChild(home, "mainCardDrag").enabled)
            verify(findChild(home, "sideCardDrag").enabled)
            verify(side.z > main.z)
            verify(buttons.z > side.z)
            var panes = findChild(home, "paneArea")
            compare([panes.x, panes.y, panes.width, panes.height], [352, 63, 712, 690])
        }

        function test_fullScreenGeometry() {
            var home = makeHome()
            host.Window.window.showFullScreen()
            tryVerify(function () { return home.full })
            home.width = 1920
            home.height = 1080
            var side = findChild(home, "sideCard")
            compare([side.x, side.y, side.width, side.height], [20, 54, 422, 972])
            var main = findChild(home, "mainCard")
            compare([main.x, main.y, main.width, main.height], [0, 0, 1920, 1080])
            compare(main.radius, 0)
            verify(!main.shadowShown)
            var buttons = findChild(home, "windowButtons")
            compare([buttons.x, buttons.y], [14, 13])
            compare(findChild(home, "fullScreenGlyph").text, "\u25be")
            verify(!findChild(home, "mainCardDrag").enabled)
            verify(!findChild(home, "sideCardDrag").enabled)
            // 1368 wide keeps the sidebar at 300; one more pixel widens it.
            home.width = 1368
            compare(side.width, 300)
            home.width = 1369
            compare(side.width, 301)
            host.Window.window.showNormal()
            tryVerify(function () { return !home.full })
            compare(side.width, 300)
            compare(findChild(home, "fullScreenGlyph").text, "\u25b4")
        }

        function test_windowButtonGlyphsShowTogether() {
            var home = makeHome()
            var names = ["closeGlyph", "minimiseGlyph", "fullScreenGlyph"]
            for (var i = 0; i < names.length; ++i)
                verify(!findChild(home, names[i]).visible, names[i])
            var buttons = findChild(home, "windowButtons")
            // Over the gap between the first two circles.
            mouseMove(buttons, 17, 6)
            for (i = 0; i < names.length; ++i)
                tryVerify(function () { return findChild(home, names[i]).visible }, 1000, names[i])
            compare(findChild(home, "closeGlyph").text, "\u2715")
            compare(findChild(home, "minimiseGlyph").text, "\u2212")
            mouseMove(host, host.width - 2, host.height - 2)
            tryVerify(function () { return !findChild(home, "closeGlyph").visible })
        }

        function test_fullScreenButtonToggles() {
            var home = makeHome()
            var btn = findChild(home, "fullScreenButton")
            mouseClick(btn)
            tryVerify(function () { return home.full })
            mouseClick(btn)
            tryVerify(function () { return !home.full })
        }

        function test_chatStartsOnce() {
            var home = makeHome()
            compare(Chat.callCount("start"), 1)
            Chat.currentPeer = "peer1"
            Chat.currentChanged()
            home.mainPane = "settings"
            compare(Chat.callCount("start"), 1)
        }

        // Each page button toggles its page, with its calls before opening.
        function test_pageButtons_data() {
            return [
                { tag: "settings", button: "settingsButton", pane: "settings", calls: [] },
                { tag: "notifications", button: "notificationsButton", pane: "notifications", calls: ["reloadNotifications"] },
                { tag: "newGroup", button: "newGroupButton", pane: "newGroup", calls: ["reloadContacts"] },
                { tag: "newChat", button: "newChatButton", pane: "newChat", calls: ["clearDiscovery"] }
            ]
        }

        function test_pageButtons(data) {
            var home = makeHome()
            // Pages are made when first opened: none is made yet.
            verify(findChild(home, "settingsPane") === null)
            verify(findChild(home, "newChatDialog") === null)
            var settings = home.pane("settings")
            var newChat = home.pane("newChat")
            settings.sub = "backup"
            settings.confirmingLogout = true
            newChat.discoveryField.text = "0xabc"
            newChat.operationStatus = "joined"
            Chat.reset()
            var btn = findChild(home, data.button)
            mouseClick(btn)
            compare(home.mainPane, data.pane)
            compare(Chat.callNames(), data.calls)
            var paneIds = { "settings": "settingsPane", "notifications": "notificationsPopup",
                            "newGroup": "newGroupDialog", "newChat": "newChatDialog" }
            verify(findChild(home, paneIds[data.pane]).visible)
            verify(!findChild(home, "chatColumn").visible)
            verify(!findChild(home, "emptyPlaceholder").visible)
            if (data.pane === "settings") {
                compare(settings.sub, "root")
                verify(!settings.confirmingLogout)
            }
            if (data.pane === "newChat") {
                compare(newChat.discoveryField.text, "")
                compare(newChat.operationStatus, "")
            }
            // The second click closes the page; the reloads come every time.
            mouseClick(btn)
            compare(home.mainPane, "chat")
            verify(!findChild(home, paneIds[data.pane]).visible)
            verify(findChild(home, "emptyPlaceholder").visible)
            if (data.calls.length > 0 && data.calls[0] !== "clearDiscovery")
                compare(Chat.callCount(data.calls[0]), 2)
        }

        function test_notificationBadge_data() {
            return [
                { tag: "none", count: 0, shown: false, text: "" },
                { tag: "seven", count: 7, shown: true, text: "7" },
                { tag: "99", count: 99, shown: true, text: "99" },
                { tag: "100", count: 100, shown: true, text: "99+" }
            ]
        }

        function test_notificationBadge(data) {
            var home = makeHome()
            Chat.notificationCount = data.count
            Chat.notificationsChanged()
            var badge = findChild(home, "notificationBadge")
            compare(badge.visible, data.shown)
            if (data.shown)
                compare(findChild(home, "notificationBadgeText").text, data.text)
        }

        function test_openNotificationsRequested() {
            var home = makeHome()
            Chat.openNotificationsRequested()
            compare(Chat.callNames(), ["start", "reloadNotifications"])
            compare(home.mainPane, "notifications")
        }

        // Another conversation resets the view; a republished header of the
        // same conversation (a super group's ping) does not.
        function test_resetOnlyOnAnotherConversation() {
            var home = makeHome()
            Chat.currentPeer = "sg:https://g.example"
            Chat.currentTitle = "G"
            Chat.currentGroupKind = "premium_plus"
            Chat.currentChanged()
            compare(Voice.callCount("stopPlayback"), 1)
            compare(VoiceRoom.lastArgs("showGroup"), ["https://g.example", "G", true])
            home.mainPane = "settings"
            Chat.currentChanged()
            compare(home.mainPane, "settings")
            compare(Voice.callCount("stopPlayback"), 1)
            compare(VoiceRoom.callCount("showGroup"), 1)
            // The header data changed: the voice room hears of it, the page stays.
            Chat.currentGroupKind = "premium"
            Chat.currentChanged()
            compare(VoiceRoom.lastArgs("showGroup"), ["https://g.example", "G", false])
            compare(home.mainPane, "settings")
            Chat.currentPeer = "group:abc"
            Chat.currentTitle = "Friends"
            Chat.currentGroupKind = ""
            Chat.currentChanged()
            compare(home.mainPane, "chat")
            compare(Voice.callCount("stopPlayback"), 2)
            compare(VoiceRoom.lastArgs("showGroup"), ["", "", false])
            Chat.currentPeer = "peer1"
            Chat.currentTitle = "Alice"
            Chat.currentChanged()
            compare(VoiceRoom.callCount("showGroup"), 3)
        }

        // Reopening the open conversation from its row returns to the chat.
        function test_rowClickReturnsToChat() {
            Chat.conversations = [{ "peer": "peer1", "display": "Alice" }]
            var home = makeHome()
            Chat.currentPeer = "peer1"
            Chat.currentChanged()
            home.mainPane = "newGroup"
            var list = findChild(home, "convList")
            tryVerify(function () { return list.itemAtIndex(0) !== null })
            mouseClick(list.itemAtIndex(0))
            compare(Chat.lastArgs("openConversation"), ["peer1"])
            compare(home.mainPane, "chat")
        }

        // Each card's shadow is its pre-drawn picture laid around the card:
        // the picture must load, and its corner pieces must fit in it, or the
        // card casts no shadow or a torn one.
        function test_cardShadows_data() {
            return [
                { tag: "side card", shadow: "sideCardShadow", frame: "sideCardFrame" },
                { tag: "main card", shadow: "mainCardShadow", frame: "mainCardFrame" }
            ]
        }

        function test_cardShadows(data) {
            var home = makeHome()
            var shadow = findChild(home, data.shadow)
            var frame = findChild(home, data.frame)
            verify(shadow.visible)
            compare(shadow.children.length, 8)
            for (var i = 0; i < 8; ++i)
                tryCompare(shadow.children[i], "status", Image.Ready)
            var whole = createTemporaryQmlObject("import QtQuick; Image { source: 'qrc:/qt/qml/Velmor/assets/shadows/" + shadow.picture + "' }", host)
            tryCompare(whole, "status", Image.Ready)
            compare(whole.sourceSize, Qt.size(2 * shadow.corner + 4, 2 * shadow.corner + 4))
            var m = shadow.margin
            compare([shadow.x, shadow.y, shadow.width, shadow.height],
                    [frame.x - m, frame.y - m, frame.width + 2 * m, frame.height + 2 * m])
        }

        // Each tick shows the next frame of the logo's sheet, wrapping after
        // the last; the committed sheet has the layout the view cuts it by.
        function test_logoFrames_data() {
            return [
                { tag: "first", from: 48, x: 0, y: 0 },
                { tag: "second", from: 0, x: -78, y: 0 },
                { tag: "end of a row", from: 5, x: -468, y: 0 },
                { tag: "next row", from: 6, x: 0, y: -78 },
                { tag: "last", from: 47, x: -468, y: -468 }
            ]
        }

        function test_logoFrames(data) {
            var home = makeHome()
            var logo = findChild(home, "sideLogo")
            var sheet = findChild(home, "sideLogoSheet")
            tryCompare(sheet, "status", Image.Ready)
            // Decoded at the size drawn, not the committed sheet's 7 x 156.
            compare(Qt.size(sheet.implicitWidth, sheet.implicitHeight), Qt.size(7 * 78, 7 * 78))
            compare(logo.width, 78)
            logo.idx = data.from
            findChild(home, "logoTimer").triggered()
            compare(logo.idx, (data.from + 1) % 49)
            compare(sheet.x, data.x)
            compare(sheet.y, data.y)
            compare(sheet.width, 7 * 78)
        }

        function test_playingVoiceClearedWhenPlaybackStops() {
            var home = makeHome()
            Voice.playing = true
            home.playingVoiceId = "m1"
            Voice.playing = false
            compare(home.playingVoiceId, "")
        }
    }
}
