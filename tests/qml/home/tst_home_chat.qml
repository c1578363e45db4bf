import QtQuick
import QtTest
import Velmor

// The chat pane: header per kind of conversation, voice-room banner,
// read-only notice, placeholder and the message list's settling.
Item {
    id: host
    width: 1112
    height: 816

    Component { id: homeComponent; HomeView { width: 1112; height: 816 } }

    function messages(n, from) {
        var out = []
        for (var i = 0; i < n; ++i) {
            var k = (from || 0) + i
            var words = []
            for (var w = 0; w < (k % 7) * 9 + 1; ++w)
                words.push("word" + w)
            out.push({ "id": "m" + k, "kind": "text", "text": k + " " + words.join(" "),
                       "outgoing": k % 3 === 0, "ts": 1700000000 + k, "status": 4 })
        }
        return out
    }

    TestCase {
        name: "HomeChat"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Chat.reset(); VoiceRoom.reset(); Voice.reset()
            I18n.setLocale("zh-Hans")
            Chat.conversations = []
            Chat.messages = []
            VoiceRoom.roomOpen = false
            VoiceRoom.activeForVisible = false
            VoiceRoom.canOpen = false
            open("", {})
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function open(peer, props) {
            Chat.currentPeer = peer
            Chat.currentTitle = props.title || ""
            Chat.currentTitleFallback = props.titleFallback === true
            Chat.currentAddress = props.address || ""
            Chat.currentAvatarId = props.avatarId || ""
            Chat.currentAvatarKind = props.avatarKind || ""
            Chat.currentVerified = props.verified === true
            Chat.currentOfficial = props.official === true
            Chat.currentGroupKind = props.kind || ""
            Chat.currentGroupSubtitle = props.subtitle || ""
            Chat.currentCanSend = props.canSend !== false
            Chat.currentChanged()
        }

        function makeHome() {
            var home = createTemporaryObject(homeComponent, host)
            verify(home)
            return home
        }

        // A popup is made when first opened: one never made is not open.
        function isOpen(home, name) {
            var popup = findChild(home, name)
            return popup !== null && (popup.opened || popup.visible)
        }

        function test_header_data() {
            var addr = "0x1234567890abcdef1234567890abcdef12345678"
            return [
                { tag: "direct", peer: "pk1", props: { "title": "Alice", "address": addr, "avatarId": "avatar_girls_003" },
                  special: false, dir: "", titleColour: "white", stars: "", mark: false, address: "0x1234...345678",
                  subtitle: false, clickable: true, button: "" },
                { tag: "author", peer: "pk2", props: { "title": "Author", "address": addr, "verified": true },
                  special: true, dir: "authorheadphoto_frames", frames: 50, titleColour: "white", stars: "", mark: true,
                  address: "0x1234...345678", subtitle: false, clickable: true, button: "" },
                { tag: "official", peer: "pk3", props: { "title": "Official", "verified": true, "official": true },
                  special: true, dir: "tabbar_profile_frames", frames: 49, titleColour: "white", stars: "", mark: true,
                  address: null, subtitle: false, clickable: false, button: "" },
                { tag: "normal group", peer: "group:g1", props: { "title": "Friends", "avatarId": "defaultgroupphoto" },
                  special: false, dir: "", titleColour: "white", stars: "", mark: false, address: null,
                  subtitle: false, clickable: false, button: "groupSettingsButton" },
                // A name is shown as given, only the stand-in for none in the interface's language.
                { tag: "group named like the stand-in", peer: "group:g1", props: { "title": "群聊" }, locale: "en", shown: "群聊",
                  special: false, dir: "", titleColour: "white", stars: "", mark: false, address: null,
                  subtitle: false, clickable: false, button: "groupSettingsButton" },
                { tag: "unnamed group", peer: "group:g1", props: { "title": "群聊", "titleFallback": true }, locale: "en",
                  shown: "Group chat", special: false, dir: "", titleColour: "white", stars: "", mark: false, address: null,
                  subtitle: false, clickable: false, button: "groupSettingsButton" },
                // Its card no longer lists the user: no way into its settings.
                { tag: "normal group the user was removed from", peer: "group:g1",
                  props: { "title": "Friends", "avatarId": "defaultgroupphoto", "canSend": false },
                  special: false, dir: "", titleColour: "white", stars: "", mark: false, address: null,
                  subtitle: false, clickable: false, button: "" },
                { tag: "super group", peer: "sg:https://g.example", props: { "title": "G", "subtitle": "12 人 · 已连接" },
                  special: false, dir: "", titleColour: "white", stars: "", mark: false, address: null,
                  subtitle: true, clickable: false, button: "sgSettingsButton" },
                { tag: "premium", peer: "sg:https://g.example", props: { "title": "G", "kind": "premium", "subtitle": "s" },
                  special: false, dir: "", titleColour: "#ffd479", stars: "★★★", starColour: "#f4b53f", mark: false,
                  address: null, subtitle: true, clickable: false, button: "sgSettingsButton" },
                { tag: "premium plus", peer: "sg:https://g.example", props: { "title": "G", "kind": "premium_plus", "subtitle": "s" },
                  special: false, dir: "", titleColour: "#ff8d99", stars: "★★★★★", starColour: "#ff3d4f", mark: false,
                  address: null, subtitle: true, clickable: false, button: "sgSettingsButton" }
            ]
        }

        function test_header(data) {
            I18n.setLocale(data.locale || "zh-Hans")
            var home = makeHome()
            open(data.peer, data.props)
            var header = findChild(home, "chatHeader")
            verify(header.visible)
            var avatar = findChild(header, "directAvatarHolder")
            compare(avatar.special, data.special)
            compare(avatar.specialDir, data.dir)
            if (data.special)
                compare(avatar.specialFrames, data.frames)
            var title = findChild(header, "headerTitle")
            compare(title.text, data.shown !== undefined ? data.shown : data.props.title)
            verify(Qt.colorEqual(title.color, data.titleColour))
            var stars = findChild(header, "headerStars")
            compare(stars.visible, data.stars !== "")
            if (data.stars !== "") {
                compare(stars.text, data.stars)
                verify(Qt.colorEqual(stars.color, data.starColour))
            }
            compare(findChild(header, "headerVerified").visible, data.mark)
            var address = findChild(header, "headerAddress")
            compare(address.visible, data.address !== null)
            if (data.address !== null)
                compare(address.text, data.address)
            compare(findChild(header, "headerGroupSubtitle").visible, data.subtitle)
            var buttons = ["groupSettingsButton", "sgSettingsButton"]
            for (var i = 0; i < buttons.length; ++i)
                compare(findChild(header, buttons[i]).visible, buttons[i] === data.button, buttons[i])
            // Avatar and title block open the friend panel only for a direct,
            // non-official peer.
            mouseClick(avatar)
            compare(Chat.callCount("loadCurrentFriendInfo"), data.clickable ? 1 : 0)
            compare(isOpen(home, "friendInfo"), data.clickable)
            if (data.clickable) {
                findChild(home, "friendInfo").close()
                tryVerify(function () { return !isOpen(home, "friendInfo") })
            }
            mouseClick(findChild(header, "titleBlock"))
            compare(Chat.callCount("loadCurrentFriendInfo"), data.clickable ? 2 : 0)
            compare(isOpen(home, "friendInfo"), data.clickable)
        }

        function test_titleBlockAsWideAsWidestLine() {
            var home = makeHome()
            open("sg:https://g.example", { "title": "G", "subtitle": "a rather long subtitle line of this group" })
            var header = findChild(home, "chatHeader")
            var block = findChild(header, "titleBlock")
            tryCompare(block, "width", findChild(header, "headerGroupSubtitle").implicitWidth)
            open("pk", { "title": "A much longer title than the address", "address": "0x12" })
            var row = findChild(header, "headerTitleRow")
            tryVerify(function () { return row.width > findChild(header, "headerAddress").implicitWidth })
            compare(block.width, row.width)
        }

        function test_groupSettingsButton() {
            var home = makeHome()
            open("group:g1", { "title": "Friends" })
            Chat.returns = { "currentGroupInfo": { "isGroup": true, "joinAddress": "pelorin:group:k" } }
            mouseClick(findChild(home, "groupSettingsButton"))
            compare(Chat.callCount("currentGroupInfo"), 1)
            var popup = findChild(home, "groupSettings")
            tryVerify(function () { return popup.opened })
            popup.qrRequested()
            var qr = findChild(home, "groupQrPopup")
            tryVerify(function () { return qr.opened })
            compare(qr.joinAddress, "pelorin:group:k")
        }

        // The room's open state follows the group though no voice popup
        // was ever made.
        function test_externalRoomState() {
            var home = makeHome()
            verify(findChild(home, "voiceRoomPopup") === null)
            Chat.voiceRoomOpenChanged("https://g", true)
            compare(VoiceRoom.lastArgs("setRoomOpenExternally"), ["https://g", true])
        }

        function test_superGroupSettingsButton() {
            var home = makeHome()
            open("sg:https://g.example", { "title": "G" })
            mouseClick(findChild(home, "sgSettingsButton"))
            var popup = findChild(home, "sgSettings")
            verify(popup.loading)
            compare(Chat.callCount("loadSuperGroupInfo"), 1)
            tryVerify(function () { return popup.opened })
            Chat.superGroupInfoLoaded({ "name": "G" })
            verify(!popup.loading)
        }

        function test_banner_data() {
            return [
                { tag: "plus, open, not in room", kind: "premium_plus", open: true, active: false, shown: true,
                  label: "语音聊天室进行中，点击加入", joins: 1 },
                { tag: "plus, open, listening", kind: "premium_plus", open: true, active: true, shown: true,
                  label: "语音聊天室进行中，正在收听…", joins: 0 },
                { tag: "plus, closed", kind: "premium_plus", open: false, active: false, shown: false },
                { tag: "premium, open", kind: "premium", open: true, active: false, shown: false },
                { tag: "standard, open", kind: "", open: true, active: false, shown: false }
            ]
        }

        function test_banner(data) {
            var home = makeHome()
            VoiceRoom.roomOpen = data.open
            VoiceRoom.activeForVisible = data.active
            VoiceRoom.stateChanged()
            open("sg:https://g.example", { "title": "G", "kind": data.kind })
            var strip = findChild(home, "voiceBannerStrip")
            compare(strip.visible, data.shown)
            tryCompare(strip, "height", data.shown ? 54 : 0)
            if (!data.shown) {
                var header = findChild(home, "chatHeader")
                var list = findChild(home, "msgList")
                compare(list.y, header.y + header.height)
                return
            }
            var banner = findChild(strip, "voiceBanner")
            compare(banner.width, Math.round(strip.width * 0.9))
            compare(findChild(strip, "bannerLabel").text, data.label)
            mouseClick(banner)
            compare(VoiceRoom.callCount("joinRoom"), data.joins)
            tryVerify(function () { return findChild(home, "voiceRoomPopup").opened })
        }

        function test_bannerFollowsRoomState() {
            var home = makeHome()
            open("sg:https://g.example", { "title": "G", "kind": "premium_plus" })
            var strip = findChild(home, "voiceBannerStrip")
            verify(!strip.visible)
            VoiceRoom.roomOpen = true
            VoiceRoom.stateChanged()
            verify(strip.visible)
            VoiceRoom.activeForVisible = true
            VoiceRoom.stateChanged()
            compare(findChild(strip, "bannerLabel").text, "语音聊天室进行中，正在收听…")
            VoiceRoom.roomOpen = false
            VoiceRoom.stateChanged()
            verify(!strip.visible)
        }

        function test_officialShowsCapsuleInsteadOfComposer_data() {
            return [
                { tag: "official", peer: "pk", props: { "official": true, "verified": true }, official: true },
                { tag: "direct", peer: "pk", props: {}, official: false },
                { tag: "group", peer: "group:g", props: {}, official: false },
                { tag: "super group", peer: "sg:https://g", props: {}, official: false }
            ]
        }

        function test_officialShowsCapsuleInsteadOfComposer(data) {
            var home = makeHome()
            open(data.peer, data.props)
            var notice = findChild(home, "readOnlyNotice")
            compare(notice.visible, data.official)
            compare(home.composer.visible, !data.official)
            if (data.official) {
                compare(findChild(notice, "officialReadOnly").text, "官方账号 · 仅可阅读")
                tryCompare(notice, "height", 58)
            }
        }

        function test_composerSettings() {
            var home = makeHome()
            VoiceRoom.canOpen = true
            VoiceRoom.stateChanged()
            open("sg:https://g", { "kind": "premium_plus", "canSend": false })
            verify(home.composer.allowChatroom)
            verify(!home.composer.sendingEnabled)
            verify(home.composer.onGradient)
            compare(home.composer.disabledReason, "全员禁言中，仅群主和管理员可以发送消息")
            open("sg:https://g", { "kind": "premium" })
            verify(!home.composer.allowChatroom)
            verify(home.composer.sendingEnabled)
        }

        // The open super group leaves the list (the user was removed): the
        // chat says so and takes nothing more; only its own leaving counts.
        function test_superGroupLeavesListWhileOpen_data() {
            return [ { tag: "removed", after: [{ "peer": "pk" }], removed: true },
                     { tag: "another left", after: [{ "peer": "sg:https://g" }], removed: false } ]
        }
        function test_superGroupLeavesListWhileOpen(data) {
            var home = makeHome()
            Chat.conversations = [{ "peer": "sg:https://g" }, { "peer": "sg:https://h" }, { "peer": "pk" }]
            open("sg:https://g", { "title": "G", "subtitle": "12 位成员" })
            Chat.conversations = data.after
            Chat.conversationsChanged()
            Chat.currentChanged()
            compare(findChild(home, "headerGroupSubtitle").text, data.removed ? "你已被移出群聊" : "12 位成员")
            compare(findChild(home, "sgSettingsButton").visible, !data.removed)
            compare(home.composer.sendingEnabled, !data.removed)
            open("pk", {})
            open("sg:https://g", {})
            verify(home.composer.sendingEnabled)
        }

        // The composer's microphone: into the open room, or ask to open one.
        function test_composerChatroomRequest() {
            var home = makeHome()
            open("sg:https://g", { "kind": "premium_plus" })
            home.composer.requestChatroom()
            tryVerify(function () { return findChild(home, "voiceOpenConfirm").opened })
            findChild(home, "voiceOpenConfirm").close()
            VoiceRoom.roomOpen = true
            VoiceRoom.stateChanged()
            home.composer.requestChatroom()
            compare(VoiceRoom.callCount("joinRoom"), 1)
            tryVerify(function () { return findChild(home, "voiceRoomPopup").opened })
        }

        function test_placeholderAndColumn() {
            var home = makeHome()
            var placeholder = findChild(home, "emptyPlaceholder")
            var column = findChild(home, "chatColumn")
            verify(placeholder.visible)
            verify(!column.visible)
            compare(findChild(placeholder, "placeholderTitle").text, "开始一段对话")
            compare(findChild(placeholder, "placeholderHint").text, "从左侧选择会话，或创建新的聊天")
            open("pk", { "title": "A" })
            verify(!placeholder.visible)
            verify(column.visible)
            home.mainPane = "newChat"
            verify(!placeholder.visible)
            verify(!column.visible)
        }

        function rowsOverlap(list) {
            var prev = null
            for (var i = 0; i < list.count; ++i) {
                var item = list.itemAtIndex(i)
                if (!item)
                    continue
                if (prev && item.y < prev.y + prev.height + list.spacing - 0.5)
                    return "row " + i + " at " + item.y + " overlaps the row above ending at " + (prev.y + prev.height)
                prev = item
            }
            return ""
        }

        function test_listOpensAtEndAndFollows() {
            var home = makeHome()
            var list = findChild(home, "msgList")
            open("pk", { "title": "A" })
            Chat.messages = host.messages(60)
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 60 && list.atYEnd })
            var footer = list.footerItem
            // Bottom of the footer at the bottom of the view.
            tryVerify(function () { return Math.abs(list.contentY + list.height - (footer.y + footer.height)) < 1 })
            // A new message at the end is followed.
            Chat.messages = host.messages(61)
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 61 && list.atYEnd })
            // The user scrolls up: new messages leave the view alone.
            list.positionViewAtIndex(30, ListView.Beginning)
            list.movementEnded()
            verify(!list.stickBottom)
            var y = list.contentY
            Chat.messages = host.messages(62)
            Chat.messagesChanged()
            compare(list.count, 62)
            compare(list.contentY, y)
            verify(!list.atYEnd)
            // Back at the very end: following again.
            tryVerify(function () { list.positionViewAtEnd(); return list.atYEnd })
            list.movementEnded()
            verify(list.stickBottom)
            Chat.messages = host.messages(63)
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 63 && list.atYEnd })
        }

        function test_anotherConversationStartsAtEnd() {
            var home = makeHome()
            var list = findChild(home, "msgList")
            open("pk", { "title": "A" })
            Chat.messages = host.messages(40)
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 40 && list.atYEnd })
            list.positionViewAtBeginning()
            list.movementEnded()
            verify(!list.stickBottom)
            // The same conversation's header republished: the reader stays.
            Chat.currentChanged()
            verify(!list.stickBottom)
            open("pk2", { "title": "B" })
            Chat.messages = host.messages(50, 100)
            Chat.messagesChanged()
            verify(list.stickBottom)
            tryVerify(function () { return list.count === 50 && list.atYEnd })
        }

        // A republished message list keeps the reader's place.
        function test_republishedMessagesKeepScroll() {
            var home = makeHome()
            var list = findChild(home, "msgList")
            open("pk", { "title": "A" })
            var msgs = host.messages(50)
            Chat.messages = msgs
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 50 && list.atYEnd })
            list.positionViewAtIndex(10, ListView.Beginning)
            list.movementEnded()
            var y = list.contentY
            var first = list.itemAtIndex(10)
            var again = JSON.parse(JSON.stringify(msgs))
            again[10].status = 1
            Chat.messages = again
            Chat.messagesChanged()
            compare(list.contentY, y)
            verify(list.itemAtIndex(10) === first)
        }

        function test_resizeKeepsRowsApartAndEnd() {
            var home = makeHome()
            var list = findChild(home, "msgList")
            open("pk", { "title": "A" })
            Chat.messages = host.messages(30)
            Chat.messagesChanged()
            tryVerify(function () { return list.count === 30 && list.atYEnd })
            home.width = 800
            tryVerify(function () { return list.atYEnd })
            compare(rowsOverlap(list), "")
            home.width = 1112
            tryVerify(function () { return list.atYEnd })
            compare(rowsOverlap(list), "")
            // While reading, a resize lays the rows out again without moving to the end.
            list.positionViewAtBeginning()
            list.movementEnded()
            home.width = 900
            compare(rowsOverlap(list), "")
            verify(!list.stickBottom)
            verify(!list.atYEnd)
        }

        function test_listTapDismissesComposerPanels() {
            var home = makeHome()
            open("pk", { "title": "A" })
            var spy = createTemporaryQmlObject("import QtTest; SignalSpy { signalName: \"tapped\" }", host)
            spy.target = findChild(home, "msgList")
            mouseClick(findChild(home, "msgList"), 50, 50)
            compare(spy.count, 1)
        }
    }
}
