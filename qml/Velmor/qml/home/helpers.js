.pragma library

// Pure helpers of the home view. The home view's root re-exports them as
// home.formatTime(...) and so on; the parts of the home view that are tested
// on their own import this file directly.

function _isEmojiCp(cp) {
    return (cp >= 0x1F300 && cp <= 0x1FAFF)
        || (cp >= 0x2600 && cp <= 0x27BF)
        || (cp >= 0x2B00 && cp <= 0x2BFF)
        || (cp >= 0x1F000 && cp <= 0x1F0FF)
        || (cp >= 0x2300 && cp <= 0x23FF)
        || (cp >= 0x1F1E6 && cp <= 0x1F1FF)
}

function _isEmojiMod(cp) {
    return cp === 0x200D
        || (cp >= 0xFE00 && cp <= 0xFE0F)
        || (cp >= 0x1F3FB && cp <= 0x1F3FF)
        || (cp >= 0xE0020 && cp <= 0xE007F)
}

// One to three emoji and nothing else (joiners and modifiers do not count).
function isBigEmoji(t) {
    if (t === undefined || t === null || t === "")
        return false
    var s = String(t).trim()
    if (s.length === 0)
        return false
    var count = 0
    var i = 0
    while (i < s.length) {
        var cp = s.codePointAt(i)
        i += cp > 0xFFFF ? 2 : 1
        // The modifier test comes first: skin tones also lie in an emoji range.
        if (_isEmojiMod(cp))
            continue
        if (!_isEmojiCp(cp))
            return false
        ++count
    }
    return count >= 1 && count <= 3
}

// "HH:mm" for today, "MM-dd HH:mm" otherwise; empty for a missing time.
// `now` is for tests; the views leave it out. A date is turned into local
// time once (every getter of a Date does that again, paid by every row and
// bubble that shows a time), and today's bounds are worked out once a day
// (and again within the hour, should the time zone change meanwhile).
function formatTime(ts, now) {
    var secs = Number(ts)
    if (!ts || !isFinite(secs) || secs <= 0)
        return ""
    var ms = secs * 1000
    var day = now instanceof Date ? _dayOf(now.getTime()) : _today()
    return Qt.formatDateTime(new Date(ms), ms >= day.from && ms < day.until ? "hh:mm" : "MM-dd hh:mm")
}

// The local day around `nowMs`: its first millisecond and the first of the
// next day (DST days are 23 or 25 hours long).
function _dayOf(nowMs) {
    var d = new Date(nowMs)
    var y = d.getFullYear(), m = d.getMonth(), n = d.getDate()
    return { "from": new Date(y, m, n).getTime(), "until": new Date(y, m, n + 1).getTime() }
}

var _day = { "from": 0, "until": 0 }
var _dayCheckedUntil = 0
function _today() {
    var nowMs = Date.now()
    if (nowMs < _day.from || nowMs >= _day.until || nowMs >= _dayCheckedUntil) {
        _day = _dayOf(nowMs)
        _dayCheckedUntil = Math.min(_day.until, nowMs + 3600000)
    }
    return _day
}

function shortAddress(value) {
    var text = (value === undefined || value === null) ? "" : String(value)
    if (text.length > 14)
        return text.substring(0, 6) + "..." + text.substring(text.length - 6)
    return text
}

// The characters of an emoji code such as "1f602" or "1f1e8-1f1f3". Parts
// that are not hexadecimal, not positive or beyond the last code point are
// skipped, so one bad part never loses the others.
function emojiFromCode(code) {
    var text = (code === undefined || code === null) ? "" : String(code)
    if (text.length === 0)
        return ""
    var parts = text.split("-")
    var out = ""
    for (var i = 0; i < parts.length; ++i) {
        var cp = parseInt(parts[i], 16)
        if (!isFinite(cp) || cp < 1 || cp > 0x10FFFF)
            continue
        out += String.fromCodePoint(cp)
    }
    return out
}

// An avatar id names a picture shipped with the app ("avatar_boys_001",
// "defaultheadphoto") or a frame set ("lottiehead_05", "authorheadphoto");
// any other text (an address, a path) is a peer's invention and gives "":
// the default picture shows, nothing is fetched.
function bundledAvatarId(avatarId) {
    var id = (avatarId === undefined || avatarId === null) ? "" : String(avatarId)
    return /^(avatar_[a-z]+_\d{1,4}|default(head|group)photo|lottiehead_\d{1,3}|authorheadphoto)$/.test(id) ? id : ""
}

// Asset address of an avatar id, relative to the module's document folder:
// always a bundled picture (the default one for an id that names none). A
// group server's picture is chosen apart (groupServerPicture).
function avatarSource(avatarId) {
    var id = bundledAvatarId(avatarId)
    if (id.indexOf("lottiehead_") === 0)
        return "../assets/" + id + "_frames/f0.svg"
    if (id.length > 0)
        return "../assets/avatars/" + id + ".png"
    return "../assets/avatars/defaultheadphoto.png"
}

// Only a group server's picture is ever fetched: https, or plain http to
// this machine (the local services). A peer's avatar id that merely starts
// with "http" (any text a peer chose) is never fetched.
function remoteAvatarAllowed(url) {
    var u = (url === undefined || url === null) ? "" : String(url)
    if (/^https:\/\/[^\s\/?#@]+(\/[^\s]*)?$/i.test(u))
        return true
    return /^http:\/\/(127\.0\.0\.1|localhost|\[::1\])(:\d+)?(\/[^\s]*)?$/i.test(u)
}

function _text(v) {
    return (v === undefined || v === null) ? "" : String(v)
}

function filterConversations(rows, query) {
    var list = rows ? rows : []
    var needle = _text(query).trim().toLowerCase()
    if (needle.length === 0)
        return list
    var out = []
    for (var i = 0; i < list.length; ++i) {
        var r = list[i] || {}
        var hay = [_text(r.display), _text(r.address), _text(r.last), _text(r.peer)].join(" ").toLowerCase()
        if (hay.indexOf(needle) >= 0)
            out.push(r)
    }
    return out
}

// An address made of `base` (the assets folder) for a "../assets/..." path;
// any other address (remote, absolute, empty) is returned as it is.
function assetUrl(base, path) {
    var p = _text(path)
    if (p.indexOf("../assets/") === 0)
        return String(base) + p.substring(10)
    return p
}

function _origin(url) {
    var m = /^(https?):\/\/([^\s\/?#@]+)/i.exec(_text(url))
    if (!m)
        return ""
    var scheme = m[1].toLowerCase()
    var host = m[2].toLowerCase()
    if (scheme === "https" && /:443$/.test(host))
        host = host.substring(0, host.length - 4)
    else if (scheme === "http" && /:80$/.test(host))
        host = host.substring(0, host.length - 3)
    return scheme + "://" + host
}

// The picture address `url` of the super group `peer` ("sg:" + server URL)
// when it may be shown: served by that group's own server, over https (or
// plain http to this machine). Anything else gives "".
function groupServerPicture(url, peer) {
    var p = _text(peer)
    var u = _text(url)
    if (p.indexOf("sg:") !== 0 || !remoteAvatarAllowed(u))
        return ""
    var server = _origin(p.substring(3))
    return server !== "" && _origin(u) === server ? u : ""
}

// The picture a round avatar shows (see CircleAvatar): a group server's
// picture when allowed and not failed, a special frame set, a "lottiehead_"
// frame, else the still picture of the id. A peer's id that names no
// bundled picture shows the default one: it is never fetched.
function avatarPicture(a, assets) {
    var remote = _text(a.remoteUrl)
    if (remote !== "" && !a.remoteFailed && remoteAvatarAllowed(remote))
        return remote
    var id = _text(a.avatarId)
    var frame = Number(a.frame) || 0
    if (a.special)
        return String(assets) + _text(a.specialDir) + "/f" + frame + ".svg"
    id = bundledAvatarId(id)
    var lottie = a.avatarKind === "lottie" || id.indexOf("lottiehead_") === 0
    if (lottie && id !== "")
        return String(assets) + id + "_frames/f" + frame + ".svg"
    return assetUrl(assets, avatarSource(id))
}

// A part some rows show: made by `make` into owner[name] while `shown`, and
// gone otherwise (hidden at once, so a reused row never draws the part of the
// message it showed before; deleted a turn later). Gives the part when it
// made one.
function holdPart(owner, name, shown, make) {
    var held = owner[name]
    if (!shown) {
        if (held !== null) {
            held.visible = false
            held.destroy()
            owner[name] = null
        }
        return null
    }
    if (held !== null)
        return null
    owner[name] = make()
    return owner[name]
}
