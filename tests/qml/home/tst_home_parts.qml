import QtQuick
import QtTest
import Velmor
import "qrc:/qt/qml/Velmor/qml/home"
import "qrc:/qt/qml/Velmor/qml/home/panes"
import "qrc:/qt/qml/Velmor/qml/home/helpers.js" as Helpers

// Avatar components and the controls of the main card's pages.
Item {
    id: host
    width: 600
    height: 400

    readonly property string assets: "qrc:/qt/qml/Velmor/assets/"

    Component { id: avatarComponent; CircleAvatar { width: 46; height: 46 } }
    Component { id: contactPickComponent; ContactPickRow { width: 300 } }
    Component { id: joinRequestComponent; JoinRequestRow { width: 300 } }
    Component { id: groupMemberComponent; GroupMemberRow { width: 300 } }
    Component { id: sgMemberComponent; SgMemberRow { width: 300 } }
    Component { id: discoveryComponent; DiscoveryResultCard { width: 300 } }
    Component { id: buttonComponent; PaneBtn { label: "OK" } }
    Component { id: setRowComponent; SetRow { width: 300; icon: "key"; label: "Key"; value: "v" } }
    Component { id: fieldComponent; PaneField { width: 200 } }
    Component { id: spyComponent; SignalSpy {} }
    Component { id: railComponent; RailItem { iconBase: "logo"; label: "Chats"; frameCount: 49 } }
    Component { id: bannerComponent; VoiceBanner { width: 600; height: 54 } }

    TestCase {
        name: "HomeParts"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            mouseMove(host, host.width - 2, host.height - 2)
        }

        function avatar(props) {
            return createTemporaryObject(avatarComponent, host, props)
        }

        function test_avatarSource_data() {
            return [
                // A peer's avatar id is never fetched, whatever it says.
                { tag: "peer id that is an address", props: { "avatarId": "https://tracker.example/p.png" },
                  source: host.assets + "avatars/defaultheadphoto.png" },
                { tag: "peer id with plain http", props: { "avatarId": "http://tracker.example/p.png" },
                  source: host.assets + "avatars/defaultheadphoto.png" },
                { tag: "remote over plain http", props: { "remoteUrl": "http://tracker.example/p.png", "avatarId": "avatar_boys_001" },
                  source: host.assets + "avatars/avatar_boys_001.png" },
                { tag: "special frames", props: { "special": true, "specialDir": "authorheadphoto_frames", "specialFrames": 50 },
                  source: host.assets + "authorheadphoto_frames/f0.svg" },
                { tag: "lottie id without kind", props: { "avatarId": "lottiehead_05" },
                  source: host.assets + "lottiehead_05_frames/f0.svg" },
                { tag: "lottie kind without id", props: { "avatarKind": "lottie" },
                  source: host.assets + "avatars/defaultheadphoto.png" },
                { tag: "picture", props: { "avatarId": "avatar_girls_003" },
                  source: host.assets + "avatars/avatar_girls_003.png" },
                { tag: "empty", props: {}, source: host.assets + "avatars/defaultheadphoto.png" }
            ]
        }

        function test_avatarSource(data) {
            var a = avatar(data.props)
            compare(String(a.source), data.source)
            // Drawn cut to a circle by the provider.
            compare(String(findChild(a, "avatarImage").source), data.source.replace(host.assets, "image://round/"))
        }

        // What a peer or a group server puts in an avatar id, in every pane
        // that lists people: only a bundled picture, or a picture of the
        // super group's own server in its member list; always decoded at a
        // bounded size.
        function test_paneAvatars_data() {
            var tracker = "https://tracker.example/p.png"
            var own = "http://127.0.0.1:9/m/7.png" // a closed port: refused at once
            var fallback = host.assets + "avatars/defaultheadphoto.png"
            return [
                { tag: "contact picker", c: contactPickComponent, props: { "contact": { "avatarId": tracker } }, out: fallback },
                { tag: "join request", c: joinRequestComponent, props: { "request": { "avatarId": "http://10.0.0.8/p" } }, out: fallback },
                { tag: "group member", c: groupMemberComponent, props: { "member": { "avatarId": tracker } }, out: fallback },
                { tag: "discovered user", c: discoveryComponent, props: { "result": { "kind": "user", "avatarId": tracker } }, out: fallback },
                { tag: "super-group member, other server", c: sgMemberComponent,
                  props: { "member": { "avatarId": tracker }, "groupPeer": "sg:https://g.example" }, out: fallback },
                { tag: "super-group member, own server", c: sgMemberComponent,
                  props: { "member": { "avatarId": own }, "groupPeer": "sg:http://127.0.0.1:9" }, out: own, refused: fallback }
            ]
        }

        function test_paneAvatars(data) {
            var pane = createTemporaryObject(data.c, host, data.props)
            var image = findChild(pane, "paneAvatarImage")
            verify(image)
            compare(String(image.source), data.out)
            verify(image.sourceSize.width > 0 && image.sourceSize.width <= 512)
            verify(image.sourceSize.height > 0 && image.sourceSize.height <= 512)
            // The closed port's refusal is waited for here (arriving during a
            // later test, its warning failed that test): the bundled picture
            // takes the failed one's place.
            if (data.refused) {
                ignoreWarning(/Connection refused/)
                tryVerify(function () { return String(image.source) === data.refused })
            }
        }

        // The remote cases, without loading anything.
        function test_avatarPicture_data() {
            return [
                { tag: "group server picture", a: { "remoteUrl": "https://g.example/a.png", "special": true, "specialDir": "tabbar_profile_frames" },
                  out: "https://g.example/a.png" },
                { tag: "remote wins over lottie", a: { "remoteUrl": "https://g.example/a.png", "avatarId": "lottiehead_05" },
                  out: "https://g.example/a.png" },
                { tag: "failed remote", a: { "remoteUrl": "https://g.example/a.png", "remoteFailed": true, "avatarId": "avatar_boys_001" },
                  out: host.assets + "avatars/avatar_boys_001.png" },
                { tag: "remote not allowed", a: { "remoteUrl": "ftp://g.example/a.png", "special": true, "specialDir": "d", "frame": 3 },
                  out: host.assets + "d/f3.svg" }
            ]
        }

        function test_avatarPicture(data) {
            compare(Helpers.avatarPicture(data.a, host.assets), data.out)
        }

        // A group server's picture that fails to load gives way to the still
        // picture; a new address is tried again.
        function test_remoteFailureFallsBack() {
            ignoreWarning(/Connection refused/)
            var a = avatar({ "remoteUrl": "http://127.0.0.1:1/a.png", "avatarId": "defaultgroupphoto" })
            var img = findChild(a, "avatarImage")
            verify(img.parent.layer.enabled, "a server's picture is masked to a circle")
            tryVerify(function () { return a._remoteFailed }, 5000)
            compare(String(a.source), host.assets + "avatars/defaultgroupphoto.png")
            compare(String(img.source), "image://round/avatars/defaultgroupphoto.png")
            verify(!img.parent.layer.enabled)
            a.remoteUrl = "https://g.example/b.png"
            verify(!a._remoteFailed)
        }

        function test_avatarLook_data() {
            return [
                { tag: "picture", props: { "avatarId": "avatar_boys_001" }, white: false, lottie: false, inset: 0 },
                { tag: "empty", props: {}, white: false, lottie: false, inset: 0 },
                { tag: "lottie id", props: { "avatarId": "lottiehead_05" }, white: true, lottie: true, frames: 24, inset: 0 },
                { tag: "lottie 01", props: { "avatarId": "lottiehead_01" }, white: true, lottie: true, frames: 18, inset: 0 },
                { tag: "lottie kind", props: { "avatarKind": "lottie" }, white: true, lottie: true, frames: 24, inset: 0 },
                { tag: "special", props: { "special": true, "specialDir": "tabbar_profile_frames", "specialFrames": 49 },
                  white: true, lottie: true, frames: 49, inset: 2 }
            ]
        }

        function test_avatarLook(data) {
            var a = avatar(data.props)
            compare(a.radius, 23)
            compare(a.isLottie, data.lottie)
            verify(Qt.colorEqual(a.color, data.white ? "white" : Theme.avatarBg))
            if (data.lottie)
                compare(a.frames, data.frames)
            var img = findChild(a, "avatarImage")
            compare(img.parent.x, data.inset)
            compare(img.fillMode, data.inset > 0 ? Image.PreserveAspectFit : Image.PreserveAspectCrop)
            compare(String(img.source).indexOf("image://round/"), 0)
            verify(!img.parent.layer.enabled, "cut to a circle without a layer")
        }

        function test_avatarFramesWrap() {
            var a = avatar({ "avatarId": "lottiehead_01" })
            var timer = findChild(a, "frameTimer")
            a._f = 17
            timer.stepped()
            compare(a._f, 0)
            compare(String(a.source), host.assets + "lottiehead_01_frames/f0.svg")
            timer.stepped()
            compare(String(a.source), host.assets + "lottiehead_01_frames/f1.svg")
            // No frames at all: stays on the first.
            var s = avatar({ "special": true, "specialDir": "tabbar_profile_frames", "specialFrames": 0 })
            findChild(s, "frameTimer").stepped()
            compare(s._f, 0)
        }

        // While the next frame loads, the last one stays on screen.
        function test_lastFrameStaysWhileNextLoads() {
            var a = avatar({ "avatarId": "lottiehead_02", "animate": false })
            var img = findChild(a, "avatarImage")
            var last = findChild(a, "lastFrameImage")
            tryCompare(img, "status", Image.Ready)
            compare(String(last.source), "image://round/lottiehead_02_frames/f0.svg")
            a._f = 5
            if (img.status !== Image.Ready) {
                verify(last.visible)
                compare(String(last.source), "image://round/lottiehead_02_frames/f0.svg")
            }
            tryCompare(img, "status", Image.Ready)
            verify(!last.visible)
            compare(String(last.source), "image://round/lottiehead_02_frames/f5.svg")
        }

        function test_avatarAnimatesOnlyWhenItShows() {
            var a = avatar({ "avatarId": "lottiehead_05" })
            var timer = findChild(a, "frameTimer")
            verify(timer.running)
            a.animate = false
            verify(!timer.running)
            a.animate = true
            a.visible = false
            verify(!timer.running)
            a.visible = true
            var still = avatar({ "avatarId": "avatar_boys_001" })
            verify(!findChild(still, "frameTimer").running)
            // A new id keeps the frame number.
            a._f = 7
            a.avatarId = "lottiehead_02"
            compare(a._f, 7)
        }

        function test_railItemPlaysOneRoundWhenActivated() {
            var r = createTemporaryObject(railComponent, host)
            compare(r.idx, 24)
            compare(String(findChild(r, "railImage").source), host.assets + "logo_frames/f24.svg")
            compare(findChild(r, "railImage").opacity, 0.6)
            r.active = true
            compare(r._stepsLeft, 49)
            var seen = []
            for (var i = 0; i < 49; ++i) {
                r.step()
                seen.push(r.idx)
            }
            compare(seen[24], 0, "wraps after the last frame")
            compare(r.idx, 24, "rests on the middle frame again")
            compare(r._stepsLeft, 0)
            verify(!findChild(r, "railTimer").running)
            compare(findChild(r, "railImage").opacity, 1.0)
        }

        function test_railItemLoopsAndClicks() {
            var r = createTemporaryObject(railComponent, host, { "loopAlways": true, "frameCount": 3, "fps": 200 })
            compare(r.idx, 0)
            r.step(); r.step(); r.step()
            compare(r.idx, 0)
            var spy = createTemporaryObject(spyComponent, host, { "target": r, "signalName": "clicked" })
            r.forceActiveFocus()
            keyClick(Qt.Key_Space)
            keyClick(Qt.Key_Return)
            mouseClick(r)
            compare(spy.count, 3)
        }

        function test_bannerFramesWrap() {
            var b = createTemporaryObject(bannerComponent, host)
            var timer = findChild(b, "bannerTimer")
            var anim = findChild(b, "chatroomAnim")
            anim.idx = 54
            timer.stepped()
            compare(anim.idx, 0)
            compare(String(anim.source), host.assets + "chatroom_frames/f0.svg")
            b.visible = false
            verify(!timer.running)
        }

        function test_paneBtn() {
            var b = createTemporaryObject(buttonComponent, host)
            var spy = createTemporaryObject(spyComponent, host, { "target": b, "signalName": "clicked" })
            verify(Qt.colorEqual(b.color, "#21ffffff"))
            mouseMove(b, 5, 5)
            tryVerify(function () { return Qt.colorEqual(b.color, "#33ffffff") })
            mouseClick(b)
            compare(spy.count, 1)
            b.primary = true
            verify(Qt.colorEqual(b.color, "#f2ffffff"))
            mouseMove(host, host.width - 2, host.height - 2)
            tryVerify(function () { return Qt.colorEqual(b.color, "#ffffff") })
            b.enabled = false
            verify(Qt.colorEqual(b.color, "#14ffffff"))
            mouseClick(b)
            compare(spy.count, 1)
        }

        function test_setRow() {
            var r = createTemporaryObject(setRowComponent, host)
            var spy = createTemporaryObject(spyComponent, host, { "target": r, "signalName": "clicked" })
            verify(findChild(r, "setRowChevron").visible)
            verify(findChild(r, "setRowDivider").visible)
            verify(findChild(r, "setRowValue").visible)
            verify(Qt.colorEqual(findChild(r, "setRowLabel").color, "white"))
            r.danger = true
            r.lastRow = true
            r.value = ""
            verify(!findChild(r, "setRowChevron").visible)
            verify(!findChild(r, "setRowDivider").visible)
            verify(!findChild(r, "setRowValue").visible)
            verify(Qt.colorEqual(findChild(r, "setRowLabel").color, "#ff9d94"))
            mouseClick(r)
            compare(spy.count, 1)
        }

        function test_paneField() {
            var f = createTemporaryObject(fieldComponent, host)
            verify(Qt.colorEqual(f.background.border.color, "transparent"))
            f.forceActiveFocus()
            verify(Qt.colorEqual(f.background.border.color, "#66ffffff"))
        }
    }
}
