import QtQuick
import QtTest
import Velmor

// Asset catalogue, manifest, the icon element and the completeness of the
// shipped asset folder (every file the views name must exist).
Item {
    id: host
    width: 400
    height: 400

    Component { id: iconComponent; TgIcon {} }
    Component { id: imageComponent; Image {} }

    TestCase {
        name: "Assets"
        when: windowShown

        readonly property string assets: "qrc:/qt/qml/Velmor/assets/"

        function init() {
            failOnWarning(/.*/)
        }

        function exists(url) {
            var xhr = new XMLHttpRequest()
            xhr.open("GET", url, false)
            xhr.send()
            return xhr.status === 200 && xhr.responseText.length > 0
        }

        function readJson(url) {
            var xhr = new XMLHttpRequest()
            xhr.open("GET", url, false)
            xhr.send()
            return JSON.parse(xhr.responseText)
        }

        function iconImage(icon) {
            return findChild(icon, "iconImage")
        }

        function iconTint(icon) {
            return findChild(icon, "iconTint")
        }

        function test_catalogue() {
            compare(AssetCatalog.url("avatar.default.user"), "../assets/avatars/defaultheadphoto.png")
            compare(AssetCatalog.url("avatar.default.group"), AssetCatalog.url("avatar.default.user"))
            compare(AssetCatalog.url("identity.verify"), "../assets/icons/verify.png")
            compare(AssetCatalog.url("no.such.id"), "")
            compare(AssetCatalog.url(""), "")
            compare(AssetCatalog.url("toString"), "")
            compare(AssetCatalog.url(undefined), "")
            var img = createTemporaryObject(imageComponent, host, { "source": AssetCatalog.url("no.such.id") })
            compare(img.status, Image.Null)
            compare(img.implicitWidth, 0)
        }

        function test_cataloguePicturesLoad_data() {
            return [
                { tag: "user", file: "avatars/defaultheadphoto.png", size: 300 },
                { tag: "group", file: "avatars/defaultgroupphoto.png", size: 300 },
                { tag: "verify", file: "icons/verify.png", size: 100 }
            ]
        }

        function test_cataloguePicturesLoad(data) {
            var img = createTemporaryObject(imageComponent, host, { "source": assets + data.file })
            tryCompare(img, "status", Image.Ready)
            compare(img.implicitWidth, data.size)
            compare(img.implicitHeight, data.size)
        }

        function test_manifest() {
            var m = readJson(assets + "assets-manifest.json")
            compare(m.schemaVersion, 1)
            compare(m.assets.length, 12)
            var byId = {}
            for (var i = 0; i < m.assets.length; ++i) {
                var e = m.assets[i]
                verify(["light", "dark", "all"].indexOf(e.mode) >= 0, e.id)
                verify(typeof e.use === "string" && typeof e.fallback === "string" && typeof e.ios === "string", e.id)
                byId[e.id] = e
            }
            var ids = ["avatar.default.user", "avatar.default.group", "identity.verify"]
            for (var j = 0; j < ids.length; ++j)
                compare("../" + byId[ids[j]].qt, AssetCatalog.url(ids[j]), ids[j])
            compare(byId["status.connecting"].qt, "assets/logo_frames")
            compare(byId["chat.background.dark"].mode, "dark")
        }

        function test_everyIconLoads() {
            var names = ["arrow_down", "attach", "back", "block", "chats", "check1", "check2", "clock",
                         "close", "copy", "delete", "edit", "emoji", "group", "key", "link", "logout",
                         "menu", "mic", "mute", "pause", "photo", "pin", "play", "search", "send",
                         "settings", "unmute", "user", "verify", "wallet"]
            compare(names.length, 31)
            for (var i = 0; i < names.length; ++i) {
                var icon = createTemporaryObject(iconComponent, host, { "name": names[i] })
                var img = iconImage(icon)
                tryCompare(img, "status", Image.Ready, 2000, names[i])
                compare(img.sourceSize.width, 48)
                compare(img.implicitWidth, 48)
                verify(iconTint(icon).visible, names[i])
            }
        }

        function test_iconProperties() {
            var icon = createTemporaryObject(iconComponent, host)
            compare(icon.name, "")
            verify(Qt.colorEqual(icon.color, Theme.textSecondary))
            compare(icon.implicitWidth, 24)
            compare(icon.implicitHeight, 24)
            // No name: nothing loaded, nothing drawn, size kept.
            compare(String(iconImage(icon).source), "")
            compare(iconImage(icon).status, Image.Null)
            verify(!iconTint(icon).visible)

            icon.size = 16
            compare(icon.implicitWidth, 16)
            icon.name = "back"
            icon.rotationAngle = 180
            icon.color = "#ff0000"
            tryCompare(iconImage(icon), "status", Image.Ready)
            compare(iconImage(icon).sourceSize.width, 32)
            compare(iconTint(icon).rotation, 180)
            verify(Qt.colorEqual(iconTint(icon).color, "#ff0000"))
            verify(!iconImage(icon).visible, "the raw white glyph is never shown")
            // White needs no overlay: the glyph itself, faded by the alpha.
            icon.color = "#80ffffff"
            tryVerify(function () { return iconTint(icon) === null })
            verify(iconImage(icon).visible && Math.abs(iconImage(icon).opacity - 128 / 255) < 0.01 && iconImage(icon).rotation === 180)
            icon.color = "#ff0000"
            verify(iconTint(icon).visible && !iconImage(icon).visible)

            // An explicit box keeps the 2x raster, fitted and centred.
            icon.width = 40
            icon.height = 20
            compare(iconImage(icon).sourceSize.width, 32)
            compare(iconImage(icon).fillMode, Image.PreserveAspectFit)
            compare(iconImage(icon).paintedWidth, 20)
            compare(iconImage(icon).paintedHeight, 20)
        }

        function test_missingIconDrawsNothing() {
            failOnWarning(/^(?!.*Cannot open).*/)
            ignoreWarning(/Cannot open: qrc:\/qt\/qml\/Velmor\/assets\/icons\/tg\/nonexistent\.svg/)
            var icon = createTemporaryObject(iconComponent, host, { "name": "nonexistent" })
            tryCompare(iconImage(icon), "status", Image.Error)
            verify(!iconTint(icon).visible)
            compare(icon.implicitWidth, 24)
        }

        function test_numberedAvatars() {
            var sets = [["boys", 35], ["girls", 28], ["animals", 36]]
            var total = 0
            for (var s = 0; s < sets.length; ++s) {
                for (var i = 1; i <= sets[s][1]; ++i) {
                    var id = "avatar_" + sets[s][0] + "_" + ("00" + i).slice(-3)
                    verify(exists(assets + "avatars/" + id + ".png"), id)
                    ++total
                }
                var past = "avatar_" + sets[s][0] + "_" + ("00" + (sets[s][1] + 1)).slice(-3)
                verify(!exists(assets + "avatars/" + past + ".png"), past + " should not exist")
            }
            compare(total, 99)
            var img = createTemporaryObject(imageComponent, host, { "source": assets + "avatars/avatar_animals_036.png" })
            tryCompare(img, "status", Image.Ready)
            compare(img.implicitWidth, 100)
        }

        function test_frameSets_data() {
            var rows = [
                { tag: "logo", dir: "logo_frames", count: 49 },
                { tag: "official", dir: "tabbar_profile_frames", count: 49 },
                { tag: "author", dir: "authorheadphoto_frames", count: 50 },
                { tag: "play", dir: "play_frames", count: 24 },
                { tag: "chatroom", dir: "chatroom_frames", count: 55 },
                { tag: "lottiehead_01", dir: "lottiehead_01_frames", count: 18 }
            ]
            var heads = ["02", "05", "06", "07", "08", "10", "11", "12", "13", "14", "15", "17", "21"]
            for (var i = 0; i < heads.length; ++i)
                rows.push({ tag: "lottiehead_" + heads[i], dir: "lottiehead_" + heads[i] + "_frames", count: 24 })
            return rows
        }

        function test_frameSets(data) {
            for (var f = 0; f < data.count; ++f)
                verify(exists(assets + data.dir + "/f" + f + ".svg"), data.dir + " f" + f)
            verify(!exists(assets + data.dir + "/f" + data.count + ".svg"), "no frame past the count")
            var img = createTemporaryObject(imageComponent, host,
                                            { "source": assets + data.dir + "/f" + (data.count - 1) + ".svg",
                                              "sourceSize": Qt.size(96, 96) })
            tryCompare(img, "status", Image.Ready)
        }

        function test_emojiGifs() {
            var codes = []
            var ranges = [[0x1f44a, 0x1f44f], [0x1f47b, 0x1f47b], [0x1f47d, 0x1f47d], [0x1f480, 0x1f480],
                          [0x1f494, 0x1f494], [0x1f49b, 0x1f49c], [0x1f600, 0x1f637], [0x1f641, 0x1f644],
                          [0x1f64f, 0x1f64f], [0x1f680, 0x1f680], [0x1f697, 0x1f697], [0x1f90f, 0x1f915],
                          [0x1f917, 0x1f917], [0x1f91d, 0x1f91f], [0x1f923, 0x1f925], [0x1f927, 0x1f92f],
                          [0x1f97a, 0x1f97a], [0x1f9d0, 0x1f9d0]]
            for (var r = 0; r < ranges.length; ++r)
                for (var c = ranges[r][0]; c <= ranges[r][1]; ++c)
                    codes.push(c.toString(16))
            compare(codes.length, 100)
            for (var i = 0; i < codes.length; ++i)
                verify(exists(assets + "emoji/" + codes[i] + ".gif"), codes[i])
            verify(!exists(assets + "emoji/1f638.gif"))
            var anim = createTemporaryObject(Qt.createComponent("AnimatedProbe.qml"), host,
                                             { "source": assets + "emoji/1f600.gif" })
            tryCompare(anim, "status", Image.Ready)
            verify(anim.frameCount > 1)
        }
    }
}
