import QtQuick
import QtTest
import Velmor

// The store notice after a damaged file was kept aside names the file and,
// when any came back, how many messages were read back from it.
Item {
    id: host
    width: 800
    height: 200

    Component {
        id: noticeComponent
        StoreNotice { width: 600 }
    }

    TestCase {
        name: "StoreNotice"
        when: windowShown

        function cleanup() {
            App.storeProblem = ""
            App.storeSetAside = ""
            App.storeSalvaged = 0
        }

        function findText(item) {
            for (var i = 0; i < item.children.length; ++i) {
                var child = item.children[i]
                if (child.objectName === "storeNoticeText")
                    return child
                var inner = findText(child)
                if (inner)
                    return inner
            }
            return null
        }

        function test_keptFile_data() {
            return [
                { tag: "messages read back", salvaged: 200, shows: true },
                { tag: "nothing read back", salvaged: 0, shows: false },
            ]
        }

        function test_keptFile(data) {
            var locale = I18n.locale
            I18n.locale = "en"
            App.storeSetAside = "/home/u/.local/share/Pelorin/chat.db.damaged-20261207-101500"
            App.storeSalvaged = data.salvaged
            var notice = createTemporaryObject(noticeComponent, host)
            verify(notice.visible)
            var text = findText(notice).text
            verify(text.indexOf("chat.db.damaged-20261207-101500") >= 0, text)
            compare(text.indexOf("200 messages") >= 0, data.shows, text)
            I18n.locale = locale
        }
    }
}
