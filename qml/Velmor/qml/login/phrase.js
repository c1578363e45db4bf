.pragma library

// Words of a typed or pasted recovery phrase. A word is a run of characters
// that are not white space in the ECMAScript sense (\s: spaces, tabs, line
// breaks, no-break and ideographic spaces, U+FEFF, ...); trim() drops the
// same characters.

function hasSpace(text) {
    return /\s/.test(text)
}

function words(raw) {
    var trimmed = String(raw).trim()
    return trimmed.length === 0 ? [] : trimmed.split(/\s+/)
}

// Where the words of `raw`, received by cell `startIdx`, go among `cellCount`
// cells: a whole phrase (cellCount words or more) fills every cell from the
// first, a shorter run fills onward from the receiving cell; words beyond the
// last cell are dropped. Null when there is nothing to spread (one word or
// none), so a single word keeps its surrounding spaces in its cell.
function placement(startIdx, raw, cellCount) {
    var list = words(raw)
    if (list.length < 2)
        return null
    var first = list.length >= cellCount ? 0 : startIdx
    return { "first": first, "words": list.slice(0, Math.max(0, cellCount - first)) }
}

// The text that an edit put into a cell: what `after` holds between the part
// it shares with `before` at the start and the part it shares at the end.
function inserted(before, after) {
    before = String(before)
    after = String(after)
    var p = 0
    var most = Math.min(before.length, after.length)
    while (p < most && before[p] === after[p])
        ++p
    var s = 0
    while (s < most - p && before[before.length - 1 - s] === after[after.length - 1 - s])
        ++s
    return after.slice(p, after.length - s)
}

// Whether an edit that spread words over the cells came from typing (a letter
// or a space, or one word from an input method) rather than a pasted run of
// words: the cursor then follows the words, so the next letter typed lands
// after the last of them instead of being appended to the word left behind.
function followsEdit(before, after) {
    return words(inserted(before, after)).length <= 1
}

// The phrase handed to the sign-in: every cell trimmed and lower-cased, one
// space between neighbours (an empty cell leaves two spaces in a row).
function join(texts) {
    return texts.map(function (t) { return String(t).trim().toLowerCase() }).join(" ")
}
