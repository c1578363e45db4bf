import QtQuick
import QtQuick.Layouts
import "phrase.js" as Phrase

// Twelve word cells, three across and four down. A phrase pasted or typed with
// white space into any cell is spread over the cells (see phrase.js);
// `complete` is true while every cell holds a word.
GridLayout {
    id: grid

    readonly property int cellCount: 12
    property bool complete: false

    function cell(i) {
        return cells.itemAt(i)
    }

    function cellText(i) {
        var c = cells.itemAt(i)
        return c ? c.text : ""
    }

    // The twelve cells trimmed, lower-cased and joined with single spaces.
    function phraseText() {
        var texts = []
        for (var i = 0; i < cellCount; ++i)
            texts.push(cellText(i))
        return Phrase.join(texts)
    }

    function recheck() {
        for (var i = 0; i < cellCount; ++i) {
            if (cellText(i).trim().length === 0) {
                complete = false
                return
            }
        }
        complete = true
    }

    // `before` is the receiving cell's text ahead of the edit; `typed` tells
    // whether the edit came from typing in that cell (see Phrase.followsEdit).
    function distributeWords(startIdx, raw, typed) {
        var plan = Phrase.placement(startIdx, raw, cellCount)
        if (!plan)
            return
        // A word typed past the last cell has nowhere to go: it stays as
        // typed (the phrase then fails its check) rather than being dropped
        // while the next letters join the last word.
        if (typed && plan.first + plan.words.length === cellCount
                && Phrase.words(raw).length > plan.words.length)
            return
        // Each write runs that cell's own change handler; a written word holds
        // no white space, so it only re-checks completeness.
        for (var k = 0; k < plan.words.length; ++k) {
            var c = cells.itemAt(plan.first + k)
            if (c)
                c.text = plan.words[k]
        }
        if (!typed || plan.words.length === 0)
            return
        var last = cells.itemAt(plan.first + plan.words.length - 1)
        if (last) {
            last.forceActiveFocus()
            last.cursorPosition = last.text.length
        }
    }

    columns: 3
    columnSpacing: 8
    rowSpacing: 8

    Repeater {
        id: cells
        model: grid.cellCount

        PhraseCell {
            required property int index

            objectName: "phraseCell" + index
            cellIndex: index
            Layout.fillWidth: true
            Layout.preferredWidth: 10
            // The text before this edit, to tell a typed letter or space from
            // a pasted run of words.
            property string previousText: ""

            onTextChanged: {
                var before = previousText
                previousText = text
                if (Phrase.hasSpace(text))
                    grid.distributeWords(index, text,
                                         activeFocus && Phrase.followsEdit(before, text))
                grid.recheck()
            }
        }
    }
}
