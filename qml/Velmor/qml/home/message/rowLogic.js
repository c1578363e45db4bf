.pragma library

// Pure rules of the message row: what kind of row a message map is, and
// the sizes of images and voice waveforms. The row and its
// tests share them.

function _text(v) {
    return (v === undefined || v === null) ? "" : String(v)
}

function _list(v) {
    if (v === undefined || v === null || typeof v === "string")
        return []
    var out = []
    var n = Number(v.length) || 0
    for (var i = 0; i < n; ++i)
        out.push(v[i])
    return out
}

// Index into the theme's eight name colours: the same sender always gets
// the same colour.
function peerColorIndex(address, name) {
    var s = _text(address)
    if (s === "")
        s = _text(name)
    var h = 0
    for (var i = 0; i < s.length; ++i)
        h = (h * 31 + s.charCodeAt(i)) % 100003
    return h % 8
}

function emojiCodes(m) {
    return _list(m ? m.emojiCodes : undefined).map(_text)
}

// The row kind, in the order the row tests them: "site", "transfer",
// "emoji", "image", "voice", "system", "big" or "text". A kind whose own
// key is empty falls through to a text bubble.
function rowKind(m, isBigEmoji) {
    var msg = m || {}
    var kind = _text(msg.kind)
    if (kind === "site" && _text(msg.siteUrl) !== "")
        return "site"
    if (kind === "transfer" && _text(msg.transferAmountRaw) !== "")
        return "transfer"
    if (kind === "emoji" && emojiCodes(msg).length > 0)
        return "emoji"
    var image = kind === "image" && _text(msg.imageSrc) !== ""
    var voice = kind === "voice" && _text(msg.voiceB64) !== ""
    if (image)
        return "image"
    if (voice)
        return "voice"
    if (kind === "system")
        return "system"
    if (isBigEmoji && isBigEmoji(_text(msg.text)))
        return "big"
    return "text"
}

// Thumbnail size: scaled down (never up) to at most 200 wide and 300 high;
// 200 × 150 when the message states no size.
function imageBox(w, h) {
    var iw = Number(w) || 0
    var ih = Number(h) || 0
    if (iw > 0 && ih > 0) {
        var ratio = Math.min(200 / iw, 300 / ih, 1)
        return { "width": iw * ratio, "height": ih * ratio }
    }
    return { "width": 200, "height": 150 }
}

var fallbackLevels = [4, 8, 12, 17, 10, 15, 11, 18, 9, 13, 7, 12]

// Bar heights of a voice waveform: 12 to 26 bars sampled from the levels
// (fewer levels repeat), each level held to 1..31 and drawn 5 + 25·v/31 high.
function voiceBars(waveform) {
    var levels = _list(waveform)
    if (levels.length === 0)
        levels = fallbackLevels
    var n = Math.min(26, Math.max(12, levels.length))
    var bars = []
    for (var i = 0; i < n; ++i) {
        var v = Number(levels[Math.floor(i / n * levels.length)])
        if (!isFinite(v))
            v = 1
        v = Math.min(31, Math.max(1, v))
        bars.push(5 + 25 * v / 31)
    }
    return bars
}

// Whole seconds, halves up, at least 1, then the double prime.
function voiceDurText(durMs) {
    var ms = Number(durMs)
    if (!isFinite(ms) || ms < 0)
        ms = 0
    return Math.max(1, Math.floor(ms / 1000 + 0.5)) + "\u2033"
}

// Tick of an outgoing message: "clock" while it is sent, "check1" once
// sent; nothing for failed, unreachable or incoming messages.
function tickName(outgoing, status) {
    if (outgoing !== true)
        return ""
    var s = Number(status) || 0
    if (s === 0)
        return "clock"
    if (s === 1)
        return "check1"
    return ""
}

// The outlines of the icons of the same names ("clock", "check1").
var _tickShapes = {
    "clock": "<circle cx=\"12\" cy=\"12\" r=\"8.6\"/><path d=\"M12 7.2V12l3.3 2\"/>",
    "check1": "<path d=\"M5 12.6l4.4 4.4L19 7.4\"/>"
}
var _tickPictures = {}

function _hexByte(v) {
    var n = Math.max(0, Math.min(255, Math.round(v * 255)))
    return (n < 16 ? "0" : "") + n.toString(16)
}

// The tick `name` stroked in `ink` (its alpha apart: the item fades it) as
// a picture address; "" for a name without an outline. Made once per tick
// and colour for every row.
function tickPicture(name, ink) {
    var shape = _tickShapes[name]
    if (shape === undefined)
        return ""
    var stroke = _hexByte(ink.r) + _hexByte(ink.g) + _hexByte(ink.b)
    var key = name + "#" + stroke
    var picture = _tickPictures[key]
    if (picture === undefined) {
        picture = "data:image/svg+xml;base64," + Qt.btoa(
            "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\" width=\"24\" height=\"24\">"
            + "<g fill=\"none\" stroke=\"#" + stroke + "\" stroke-width=\"1.8\""
            + " stroke-linecap=\"round\" stroke-linejoin=\"round\">" + shape + "</g></svg>")
        _tickPictures[key] = picture
    }
    return picture
}

// A failed send (2) or an unreachable recipient (3) can be retried.
function canRetry(outgoing, status) {
    var s = Number(status)
    return outgoing === true && (s === 2 || s === 3)
}

// The address a card may hand to the system: only an http or https URL
// with a host and nothing that could smuggle another scheme or a login.
// Anything else a peer sent gives "" and is ignored.
function webUrl(value) {
    var u = _text(value).trim()
    if (!/^https?:\/\/[^\s\/?#@\\]+(?:[\/?#][^\s]*)?$/i.test(u))
        return ""
    var host = /^https?:\/\/([^\s\/?#@\\]+)/i.exec(u)[1]
    if (!/^(\[[0-9a-f:.]+\]|[a-z0-9.-]+)(:\d{1,5})?$/i.test(host))
        return ""
    return u
}

// The codes that have an animated GIF in the emoji folder.
var _gifRanges = [[0x1f44a, 0x1f44f], [0x1f47b], [0x1f47d], [0x1f480], [0x1f494], [0x1f49b],
                  [0x1f49c], [0x1f600, 0x1f637], [0x1f641, 0x1f644], [0x1f64f], [0x1f680],
                  [0x1f697], [0x1f90f, 0x1f915], [0x1f917], [0x1f91d, 0x1f91f],
                  [0x1f923, 0x1f925], [0x1f927, 0x1f92f], [0x1f97a], [0x1f9d0]]

function hasGifEmoji(code) {
    var c = _text(code)
    if (!/^[0-9a-f]{5}$/.test(c))
        return false
    var v = parseInt(c, 16)
    for (var i = 0; i < _gifRanges.length; ++i) {
        var r = _gifRanges[i]
        if (v >= r[0] && v <= (r.length > 1 ? r[1] : r[0]))
            return true
    }
    return false
}
