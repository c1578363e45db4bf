import QtQml

// The text the composer holds beside its text area while it is too long for
// it, and the last one removed, kept until something else is typed, pasted
// or held, or the conversation changes, so that "undo" brings it back: one
// copy of the text each. A text let go (sent, forgotten, or copied into a
// longer one) is freed once the event that let it go is over, not at the
// engine's next collection, which may come megabytes later; a collection run
// at once would find it still held by the handler letting it go.
QtObject {
    property string text: ""
    property string removed: ""

    // Holds `held`; a removed text is forgotten.
    function hold(held) {
        forgetRemoved()
        text = held
    }

    // Adds `more` at the end of the held text.
    function join(more) {
        text += more
        collectSoon()
    }

    // Lets the held text go, kept as the removed one when `undoable`.
    function letGo(undoable) {
        removed = undoable ? text : ""
        text = ""
        if (!undoable)
            collectSoon()
    }

    // The removed text, no longer kept as such.
    function takeRemoved() {
        var back = removed
        removed = ""
        return back
    }

    function forgetRemoved() {
        if (removed === "")
            return
        removed = ""
        collectSoon()
    }

    function collectSoon() {
        Qt.callLater(gc)
    }
}
