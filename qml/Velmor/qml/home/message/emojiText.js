.pragma library

// Qt 6.4 draws each character in the first face that has it and has no
// colour-emoji fallback: the body face has black outlines of its own for
// some emoji (❤ ☀ ⚡ ☕ 😀 …), so inside running text those would not draw
// in colour, and naming the colour face for the whole text spoils digits
// and spaces; measuring a colour glyph, moreover, decodes its picture every
// time. A text with emoji is therefore shown as rich text in which each
// emoji is a picture drawn once. Every other character is escaped, so
// a peer's text never becomes markup (no tags, links or images), and white
// space stays as written (pre-wrap keeps spaces, tabs and line breaks).





// Code points the colour face draws in colour by default.
var _presentation = [
    [0x231A, 0x231B], [0x23E9, 0x23EC], [0x23F0, 0x23F0], [0x23F3, 0x23F3],
    [0x25FD, 0x25FE], [0x2614, 0x2615], [0x2648, 0x2653], [0x267F, 0x267F],
    [0x2693, 0x2693], [0x26A1, 0x26A1], [0x26AA, 0x26AB], [0x26BD, 0x26BE],
    [0x26C4, 0x26C5], [0x26CE, 0x26CE], [0x26D4, 0x26D4], [0x26EA, 0x26EA],
    [0x26F2, 0x26F3], [0x26F5, 0x26F5], [0x26FA, 0x26FA], [0x26FD, 0x26FD],
    [0x2705, 0x2705], [0x270A, 0x270B], [0x2728, 0x2728], [0x274C, 0x274C],
    [0x274E, 0x274E], [0x2753, 0x2755], [0x2757, 0x2757], [0x2795, 0x2797],
    [0x27B0, 0x27B0], [0x27BF, 0x27BF], [0x2B1B, 0x2B1C], [0x2B50, 0x2B50],
    [0x2B55, 0x2B55], [0x1F004, 0x1F004], [0x1F0CF, 0x1F0CF], [0x1F18E, 0x1F18E],
    [0x1F191, 0x1F19A], [0x1F1E6, 0x1F1FF], [0x1F201, 0x1F201], [0x1F21A, 0x1F21A],
    [0x1F22F, 0x1F22F], [0x1F232, 0x1F236], [0x1F238, 0x1F23A], [0x1F250, 0x1F251],
    [0x1F300, 0x1F64F], [0x1F680, 0x1F6FF], [0x1F7E0, 0x1F7EB], [0x1F90C, 0x1F9FF],
    [0x1FA70, 0x1FAFF]
]

function _inTable(cp) {
    var lo = 0, hi = _presentation.length - 1
    while (lo <= hi) {
        var mid = (lo + hi) >> 1
        if (cp < _presentation[mid][0])
            hi = mid - 1
        else if (cp > _presentation[mid][1])
            lo = mid + 1
        else
            return true
    }
    return false
}

// Symbols drawn as text by default that an emoji selector or a skin tone
// turns into an emoji (❤️ ☀️ ✌🏻). Keycaps (1️⃣) and ©️ ®️ stay in the body
// face: the colour face draws their letters dark, unreadable on the dark
// theme, and Qt 6.4 does not join the keycap.
function _isSymbol(cp) {
    return (cp >= 0x203C && cp <= 0x2BFF) || cp === 0x3030
            || cp === 0x303D || cp === 0x3297 || cp === 0x3299 || cp >= 0x1F000
}

function _isRegional(cp) {
    return cp >= 0x1F1E6 && cp <= 0x1F1FF
}

function _isTone(cp) {
    return cp >= 0x1F3FB && cp <= 0x1F3FF
}

// What follows a base inside one emoji: the emoji selector, skin tones
// and the tags of subdivision flags.
function _isModifier(cp) {
    return cp === 0xFE0F || _isTone(cp) || (cp >= 0xE0020 && cp <= 0xE007F)
}

function _at(s, i) {
    return i < s.length ? s.codePointAt(i) : -1
}

function _size(cp) {
    return cp > 0xFFFF ? 2 : 1
}

// The end of the emoji that starts at `i`, or `i` when none starts there.
function _emojiEnd(s, i) {
    var cp = _at(s, i)
    var next = _at(s, i + _size(cp))
    if (next === 0xFE0E)                      // text presentation asked for
        return i
    if (!_inTable(cp) && !(_isSymbol(cp) && (next === 0xFE0F || _isTone(next))))
        return i
    var end = i + _size(cp)
    // A flag is a pair of regional indicator letters.
    if (_isRegional(cp) && _isRegional(next))
        return end + _size(next)
    for (;;) {
        var c = _at(s, end)
        if (_isModifier(c)) {
            end += _size(c)
        } else if (c === 0x200D && _isSymbol(_at(s, end + 1))) {
            // A joined sequence (family, profession, coloured heart).
            end += 1 + _size(_at(s, end + 1))
        } else {
            return end
        }
    }
}

// Text as styled text shows it: markup characters as entities, line
// breaks as breaks, and the spaces that styled text would fold (a run's
// second and later ones, those starting a line) as fixed spaces. A tab is
// four fixed spaces and a zero-width space: a line may break after it, never
// inside it (a line starting with part of a tab would start with a part the
// same text cut there does not show).
function _escape(s) {
    // Most texts hold none of these: they are shown as they are.
    if (!/[&<>\t\n]|^ | {2}/.test(s))
        return s
    return s.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
            .replace(/(^|\n)( +)/g, function (all, brk, sp) { return brk + sp.replace(/ /g, "&nbsp;") })
            .replace(/ {2,}/g, function (sp) { return " " + "&nbsp;".repeat(sp.length - 1) })
            .replace(/\t/g, "&nbsp;&nbsp;&nbsp;&nbsp;\u200b")
            .replace(/\r?\n/g, "<br>")
}

// The code points of an emoji sequence in hex, joined by "-" ("2764-fe0f").
function _codes(seq) {
    var out = []
    for (var i = 0; i < seq.length; i += _size(seq.codePointAt(i)))
        out.push(seq.codePointAt(i).toString(16))
    return out.join("-")
}

// The end of the emoji that starts at `i` of `text`, or `i` when none does.
function emojiEnd(text, i) {
    return _emojiEnd(String(text), i)
}

// The first emoji at or after `from` as [start, end], or null. Only the
// characters that can start an emoji are looked at closely.
function _nextEmoji(s, from) {
    var candidates = /[\u203c-\u2b55\ufe0f\ud83c-\ud83e]/g
    candidates.lastIndex = from
    var hit
    while ((hit = candidates.exec(s)) !== null) {
        var end = _emojiEnd(s, hit.index)
        if (end > hit.index)
            return [hit.index, end]
    }
    return null
}

// The styled text showing `text` with each emoji as a picture of `pixels`
// square from the emoji image provider, whether or not it has emoji. The
// pictures are drawn from the colour face once per emoji and size, so
// laying the text out never measures a colour glyph.
function markup(text, pixels) {
    var s = (text === undefined || text === null) ? "" : String(text)
    var px = Math.max(6, Math.round(Number(pixels) || 16))
    var size = "\" width=\"" + px + "\" height=\"" + px + "\" align=\"middle\">"
    var out = []
    var from = 0
    var hit
    while ((hit = _nextEmoji(s, from)) !== null) {
        var before = _escape(s.substring(from, hit[0]))
        // Styled text drops a space that a picture follows: a zero-width
        // space after it keeps it (and the line may still break there).
        if (before.charAt(before.length - 1) === " ")
            before += "\u200b"
        out.push(before, "<img src=\"image://emoji/" + px + "/" + _codes(s.substring(hit[0], hit[1])) + size)
        from = hit[1]
    }
    out.push(_escape(s.substring(from)))
    return out.join("")
}

// Where to cut `text` so that it keeps at most `max` emoji: the start of
// the one after them, or -1 when it has no more. Qt lays a line of many
// inline pictures out in a time that grows with their square.
function pictureCut(text, max) {
    var s = (text === undefined || text === null) ? "" : String(text)
    var from = 0
    for (var n = 0; ; ++n) {
        var hit = _nextEmoji(s, from)
        if (hit === null)
            return -1
        if (n === max)
            return hit[0]
        from = hit[1]
    }
}

// `markup(text, pixels)` when the text has an emoji, else "" (the text is
// shown as plain text, as it is).
function richOrEmpty(text, pixels) {
    var s = (text === undefined || text === null) ? "" : String(text)
    return _nextEmoji(s, 0) === null ? "" : markup(s, pixels)
}
