import QtQuick
import QtTest
import Velmor

// The notice after a damaged store was kept aside names the file and, when
// any came back, how many messages were read back from it.
Item {
    id: host
    width: 800
    height: 200

    Component { id: noticeComponent; StoreNotice { width: 600 } }

    TestCase {
        name: "StoreNotice"
        when: windowShown

        function cleanup() {
            App.storeSetAside = ""
            App.storeSalvaged = 0
        }

        function test_keptFile_data() {
            return [ { tag: "messages read back", salvaged: 200 }, { tag: "nothing read back", salvaged: 0 } ]
        }
        function test_keptFile(data) {
            var locale = I18n.locale
            I18n.locale = "en"
            App.storeSetAside = "/home/u/.local/share/Pelorin/chat.db.damaged-20261207-101500"
            App.storeSalvaged = data.salvaged
            var notice = createTemporaryObject(noticeComponent, host)
            verify(notice.visible)
            var text = findChild(notice, "storeNoticeText").text
            I18n.locale = locale
            verify(text.indexOf("chat.db.damaged-20261207-101500") >= 0, text)
            compare(text.indexOf("read back") >= 0, data.salvaged > 0, text)
            if (data.salvaged)
                verify(text.indexOf("200 messages") >= 0, text)
        }
    }
}
