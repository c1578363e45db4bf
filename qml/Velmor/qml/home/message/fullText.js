.pragma library
.import "emojiText.js" as EmojiText
.import Velmor 1.0 as Velmor

// Cuts a message's whole text into pieces the reader lays out one at a
// time (only those that scroll into view), so opening a text of megabytes
// costs one screen. Pieces end after a line break where one is near the
// limit, else after a space, else at the limit; never inside what a
// reader sees as one character, and after at most maxPictures emoji. The pieces joined are the text.
function pieces(text, limit, maxPictures) {
    var s = (text === undefined || text === null) ? "" : String(text)
    var out = []
    for (var from = 0; from < s.length;) {
        var end = pieceEnd(s, from, limit, maxPictures)
        out.push(s.substring(from, end))
        from = end
    }
    return out.length > 0 ? out : [""]
}

// Where the piece of `s` that starts at `from` ends (see pieces()): the
// reader cuts a long text this way a few pieces at a time. Every cut falls
// between two whole characters as a reader sees them: a piece
// that ended inside a flag, an emoji with its skin tone or selector, or a
// letter with its accent would show both halves as other characters.
function pieceEnd(s, from, limit, maxPictures) {
    var max = Math.max(64, Number(limit) || 2000)
    var pictures = Math.max(1, Number(maxPictures) || 150)
    var end = Math.min(s.length, from + max)
    // A piece's emoji are pictures, whose layout grows with the square
    // of their number on a line: a piece ends before too many.
    var crowded = EmojiText.pictureCut(s.substring(from, end), pictures)
    if (crowded > 0)
        return _whole(s, from, from + crowded)
    if (end >= s.length)
        return end
    var cut = s.lastIndexOf("\n", end - 1)
    if (cut < from + max / 2)
        cut = s.lastIndexOf(" ", end - 1)
    if (cut >= from + max / 2 && _boundaryBefore(s, from, cut + 1) === cut + 1)
        return cut + 1
    return _whole(s, from, end)
}

// The last place at or before `at` where the piece starting at `from` (a
// place where a character ends) may end; `from` when there is none. Only
// the piece and the character after `at` are handed over, not the text.
function _boundaryBefore(s, from, at) {
    var upTo = Math.min(s.length, at + 2)
    return from + Velmor.TextBounds.lastCharacterBoundary(s.substring(from, upTo), at - from)
}

// `end`, or the last place before it where a character a reader sees
// ends; in a run of marks longer than the piece (no such place), at least
// a whole code point.
function _whole(s, from, end) {
    var cut = _boundaryBefore(s, from, end)
    if (cut > from)
        return cut
    var c = s.charCodeAt(end)
    return c >= 0xDC00 && c <= 0xDFFF && end - 1 > from ? end - 1 : end
}

// Where each position of a piece's laid-out text falls in the piece's own
// text: `laid` is what the reader's text item holds for `piece` (its plain
// text: each emoji one picture character, a zero-width space before a
// picture that follows a space, a tab as four fixed spaces and a zero-width
// space, some spaces as fixed spaces, a line break ("\n" or "\r\n") as one
// line separator, U+2028). The result has laid.length + 1 entries, the last
// the piece's length, so a selection [start, end) of the text item is
// piece.substring(at[start], at[end]).
function sourceOffsets(piece, laid) {
    var s = (piece === undefined || piece === null) ? "" : String(piece)
    var d = (laid === undefined || laid === null) ? "" : String(laid)
    var at = new Array(d.length + 1)
    var i = 0
    for (var j = 0; j < d.length;) {
        at[j] = i
        var c = d.charAt(j)
        if (c === "\ufffc" && i < s.length) {
            var end = EmojiText.emojiEnd(s, i)
            i = end > i ? end : i + 1
            ++j
        } else if (i < s.length && (s.charAt(i) === c || (c === "\u00a0" && s.charAt(i) === " "))) {
            ++i
            ++j
        } else if (i < s.length && s.charAt(i) === "\t" && /^[ \u00a0]{4}$/.test(d.substr(j, 4))) {
            for (var k = 1; k < 4; ++k)
                at[j + k] = i
            ++i
            j += 4
        } else if (i < s.length && (c === "\u2028" || c === "\n")
                   && (s.charAt(i) === "\n" || (s.charAt(i) === "\r" && s.charAt(i + 1) === "\n"))) {
            i += s.charAt(i) === "\r" ? 2 : 1
            ++j
        } else if (c === "\u200b" || i >= s.length) {
            ++j                                      // added for the layout
        } else {
            ++i                                      // dropped by the layout
            continue
        }
    }
    at[d.length] = s.length
    return at
}

// The part of `piece` that the text item's range [start, end) shows.
function sourceOf(piece, laid, start, end) {
    var at = sourceOffsets(piece, laid)
    var from = at[Math.max(0, Math.min(start, laid.length))]
    var to = at[Math.max(0, Math.min(end, laid.length))]
    return String(piece).substring(from, Math.max(from, to))
}
