import QtQuick
import QtTest
import Velmor

// Avatar, conversation and member rows, message bubble.
Item {
    id: host
    width: 600
    height: 400

    readonly property string avatarUrl: "qrc:/qt/qml/Velmor/assets/avatars/avatar_boys_001.png"

    Component { id: avatarComponent; AppAvatar {} }
    Component { id: conversationComponent; ConversationRow { width: 320 } }
    Component { id: memberComponent; MemberRow { width: 260 } }
    Component { id: bubbleComponent; MessageBubble {} }
    Component { id: spyComponent; SignalSpy {} }

    TestCase {
        name: "Rows"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            mouseMove(host, host.width - 5, host.height - 5)
            if (Theme.dark)
                Theme.toggle()
        }

        function cleanup() {
            if (Theme.dark)
                Theme.toggle()
        }

        function test_avatarFallbackDisk() {
            var a = createTemporaryObject(avatarComponent, host)
            verify(a.shadowEnabled)
            verify(Qt.colorEqual(a.fallbackColor, Theme.avatarBg))
            var disk = findChild(a, "avatarDisk")
            var shadow = findChild(a, "shadowDisk")
            compare(disk.radius, a.width / 2)
            verify(Qt.colorEqual(disk.color, Theme.avatarBg))
            verify(shadow.visible)
            compare(shadow.y, 2)
            verify(Qt.colorEqual(shadow.color, Theme.shadow))
            verify(!findChild(a, "maskedPicture").visible, "empty source shows the disk alone")
            a.shadowEnabled = false
            verify(!shadow.visible)
            verify(disk.visible)
        }

        function test_avatarPicture() {
            var a = createTemporaryObject(avatarComponent, host, { "source": host.avatarUrl, "width": 72, "height": 72 })
            var pic = findChild(a, "picture")
            tryCompare(pic, "status", Image.Ready)
            verify(findChild(a, "maskedPicture").visible)
            compare(pic.width, 68)
            compare(pic.x, 2)
            compare(pic.fillMode, Image.PreserveAspectCrop)
            verify(pic.sourceSize.width >= 64)
            verify(pic.sourceSize.width >= 68)
            // A missing picture falls back to the plain disk.
            failOnWarning(/^(?!.*Cannot open).*/)
            ignoreWarning(/Cannot open/)
            a.source = "qrc:/qt/qml/Velmor/assets/avatars/none.png"
            tryCompare(pic, "status", Image.Error)
            verify(!findChild(a, "maskedPicture").visible)
        }

        function test_avatarSmallSourceSize() {
            var a = createTemporaryObject(avatarComponent, host, { "source": host.avatarUrl, "width": 20, "height": 20 })
            var pic = findChild(a, "picture")
            compare(pic.sourceSize.width, 64)
            compare(pic.sourceSize.height, 64)
        }

        function test_unreadBadge_data() {
            return [
                { tag: "zero", count: 0, visible: false },
                { tag: "negative", count: -3, visible: false },
                { tag: "seven", count: 7, visible: true, text: "7", narrow: true },
                { tag: "ninety-nine", count: 99, visible: true, text: "99" },
                { tag: "hundred", count: 100, visible: true, text: "99+", narrow: false },
                { tag: "thousands", count: 12345, visible: true, text: "99+", narrow: false }
            ]
        }

        function test_unreadBadge(data) {
            var row = createTemporaryObject(conversationComponent, host, { "unreadCount": data.count })
            var badge = findChild(row, "unreadBadge")
            compare(badge.visible, data.visible)
            if (!data.visible)
                return
            var label = findChild(row, "badgeText")
            compare(label.text, data.text)
            compare(badge.height, 18)
            compare(badge.radius, 9)
            verify(Qt.colorEqual(badge.color, Theme.danger))
            if (data.narrow === true)
                compare(badge.width, 18)
            if (data.narrow === false)
                verify(badge.width > 18)
        }

        function test_conversationRowLayout() {
            var longTitle = "A conversation title that is much too long to fit into the row at all"
            var row = createTemporaryObject(conversationComponent, host,
                                            { "title": longTitle, "preview": "<img src='http://x/y.png'>" + longTitle,
                                              "time": "12:30", "unreadCount": 3, "avatarSource": host.avatarUrl })
            var title = findChild(row, "titleText")
            var preview = findChild(row, "previewText")
            compare(title.textFormat, Text.PlainText)
            compare(preview.textFormat, Text.PlainText)
            compare(findChild(row, "timeText").text, "12:30")
            tryVerify(function () { return title.truncated })
            verify(preview.truncated)
            compare(title.elide, Text.ElideRight)
            verify(title.x + title.width <= row.width)
        }

        function test_conversationRowHoverAndClick() {
            var row = createTemporaryObject(conversationComponent, host, { "title": "Ann" })
            var spy = createTemporaryObject(spyComponent, host, { "target": row, "signalName": "clicked" })
            verify(Qt.colorEqual(row.color, Theme.cardBg))
            mouseMove(row, 100, 30)
            tryVerify(function () { return Qt.colorEqual(row.color, Theme.buttonBg) })
            mouseClick(row, 150, 30)
            compare(spy.count, 1)
            mouseClick(row, 20, 30)
            compare(spy.count, 2)
            mouseMove(host, host.width - 5, host.height - 5)
            tryVerify(function () { return Qt.colorEqual(row.color, Theme.cardBg) })
        }

        function test_memberRow() {
            var row = createTemporaryObject(memberComponent, host,
                                            { "title": "Member", "subtitle": "0x1234567890abcdef1234567890abcdef12345678 and more text" })
            verify(Qt.colorEqual(row.color, Theme.cardBg))
            var sub = findChild(row, "subtitleText")
            compare(sub.elide, Text.ElideMiddle)
            compare(sub.textFormat, Text.PlainText)
            compare(findChild(row, "titleText").textFormat, Text.PlainText)
            tryVerify(function () { return sub.truncated })
            mouseMove(row, 50, 20)
            wait(20)
            verify(Qt.colorEqual(row.color, Theme.cardBg), "no hover state")
        }

        function test_bubbleSizes() {
            var shortB = createTemporaryObject(bubbleComponent, host, { "message": "Hello there", "timestamp": "09:41" })
            var text = findChild(shortB, "messageText")
            var time = findChild(shortB, "timeText")
            compare(shortB.implicitWidth, text.implicitWidth + 28)
            compare(shortB.implicitHeight, text.implicitHeight + time.implicitHeight + 24)
            compare(shortB.radius, Theme.radiusLarge)
            compare(text.wrapMode, Text.Wrap)
            compare(text.textFormat, Text.PlainText)

            // A message narrower than its time: the time sets the width and
            // keeps its margin on the left as on the right.
            var tinyB = createTemporaryObject(bubbleComponent, host, { "message": "k", "timestamp": "12:30" })
            var tinyTime = findChild(tinyB, "timeText")
            verify(findChild(tinyB, "messageText").implicitWidth + 28 < tinyTime.implicitWidth + 16)
            compare(tinyB.implicitWidth, tinyTime.implicitWidth + 16)
            compare(tinyTime.x, 8)

            var words = []
            for (var i = 0; i < 80; ++i)
                words.push("word" + i)
            var longB = createTemporaryObject(bubbleComponent, host, { "message": words.join(" ") })
            compare(longB.implicitWidth, 520)
            longB.width = longB.implicitWidth
            var lt = findChild(longB, "messageText")
            compare(lt.x, 12)
            compare(lt.width, 520 - 24)
            verify(lt.lineCount > 1)
        }

        function test_bubbleSidesAndTheme() {
            var out = createTemporaryObject(bubbleComponent, host, { "message": "same text", "timestamp": "10:00", "outgoing": true })
            var inc = createTemporaryObject(bubbleComponent, host, { "message": "same text", "timestamp": "10:00" })
            compare(out.implicitWidth, inc.implicitWidth)
            compare(out.implicitHeight, inc.implicitHeight)
            verify(Qt.colorEqual(out.color, Theme.bubbleOut))
            verify(Qt.colorEqual(inc.color, Theme.bubbleIn))
            verify(Qt.colorEqual(findChild(out, "messageText").color, findChild(inc, "messageText").color))
            Theme.toggle()
            verify(Qt.colorEqual(out.color, "#2b5278"))
            verify(Qt.colorEqual(inc.color, "#182533"))
            verify(Qt.colorEqual(findChild(out, "messageText").color, "#f5f5f5"))
            verify(Qt.colorEqual(findChild(out, "timeText").color, "#708499"))
        }
    }
}
