.pragma library

// Qt 6.4 draws each character in the first face that has it and has no
// colour-emoji fallback: the body face has black outlines of its own for
// some emoji (❤ ☀ ⚡ ☕ 😀 …), so inside running text those would not draw
// in colour, and naming the colour face for the whole text spoils digits
// and spaces. A text with emoji is therefore shown as rich text in which
// only the emoji name the colour face. Every other character is escaped, so
// a peer's text never becomes markup (no tags, links or images), and white
// space stays as written (pre-wrap keeps spaces, tabs and line breaks).

// Characters that can start or shape an emoji: texts without any are
// left alone after one scan.
var _candidate = /[\u203c-\u2b55\ufe0f\ud83c-\ud83e]/

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

function _escape(s) {
    return s.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;")
            .replace(/"/g, "&quot;").replace(/'/g, "&#39;")
}

// The rich text showing `text` with its emoji in `family`, whether or not
// it has emoji.
function markup(text, family) {
    var s = (text === undefined || text === null) ? "" : String(text)
    var open = "<span style=\"font-family:'" + _escape(String(family)) + "'\">"
    var out = []
    var plainFrom = 0
    var i = 0
    while (i < s.length) {
        var end = _emojiEnd(s, i)
        if (end === i) {
            i += _size(s.codePointAt(i))
            continue
        }
        // Emoji next to each other share one span.
        while (end < s.length && _emojiEnd(s, end) > end)
            end = _emojiEnd(s, end)
        out.push(_escape(s.substring(plainFrom, i)), open, _escape(s.substring(i, end)), "</span>")
        plainFrom = i = end
    }
    out.push(_escape(s.substring(plainFrom)))
    return "<span style=\"white-space:pre-wrap\">" + out.join("") + "</span>"
}

// `markup(text, family)` when the text has an emoji, else "" (the text is
// shown as plain text, as it is).
function richOrEmpty(text, family) {
    var s = (text === undefined || text === null) ? "" : String(text)
    if (!_candidate.test(s))
        return ""
    for (var i = 0; i < s.length; i += _size(s.codePointAt(i)))
        if (_emojiEnd(s, i) > i)
            return markup(s, family)
    return ""
}
