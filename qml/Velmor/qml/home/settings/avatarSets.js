.pragma library

// The three sets of avatar pictures offered to the user. Two boys' pictures
// look like animals and lead the animal set instead.

function pad3(n) {
    return ("00" + n).slice(-3)
}

function range(prefix, from, to, skip) {
    var out = []
    for (var i = from; i <= to; ++i) {
        if (skip && skip.indexOf(i) >= 0)
            continue
        out.push(prefix + pad3(i))
    }
    return out
}

function boys() { return range("avatar_boys_", 1, 35, [8, 21]) }
function girls() { return range("avatar_girls_", 1, 28) }
function animals() { return ["avatar_boys_021", "avatar_boys_008"].concat(range("avatar_animals_", 1, 36)) }

// Text for a QR image element: an SVG data address, or "" when there is no SVG.
function svgDataUrl(svg) {
    return svg ? "data:image/svg+xml;utf8," + encodeURIComponent(svg) : ""
}

// The largest size up to `room` pixels at which every module of the QR
// code in an SVG data address is a whole number of pixels: scaled by a
// fraction, neighbouring modules show seams and blurred edges.
function qrPixels(dataUrl, room) {
    var m = /viewBox=['"]0 0 (\d+) \d+['"]/.exec(decodeURIComponent(String(dataUrl)))
    var n = m ? Number(m[1]) : 0
    return n > 0 && n <= room ? n * Math.floor(room / n) : room
}

// Menlo where it is installed, else another fixed-width face, so that an
// address or key keeps its columns on every system.
function monoFamily(families) {
    var wanted = ["Menlo", "Consolas", "DejaVu Sans Mono", "Liberation Mono", "Courier New"]
    for (var i = 0; i < wanted.length; ++i)
        if (families.indexOf(wanted[i]) >= 0)
            return wanted[i]
    return "monospace"
}

// Short form of an address: the first 8 characters, "…" and the last 6.
function shortAddr(a) {
    if (!a)
        return ""
    var s = String(a)
    return s.length <= 16 ? s : s.slice(0, 8) + "\u2026" + s.slice(-6)
}
