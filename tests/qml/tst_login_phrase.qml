import QtQuick
import QtTest
import Velmor

// The recovery-phrase grid of the login view: spreading typed and pasted
// words over the twelve cells, completeness and the phrase handed to App.
Item {
    id: host
    width: 920
    height: 560

    Component { id: loginComponent; LoginView { anchors.fill: parent } }

    // A multi-line editor to put text on the clipboard, so a paste goes
    // through the cell's own paste path (line breaks included).
    TextEdit { id: clipSource; visible: false }

    readonly property var twelve: ["abandon", "ability", "able", "about", "above", "absent",
                                   "absorb", "abstract", "absurd", "abuse", "access", "accident"]

    TestCase {
        name: "LoginPhrase"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            App.reset()
            App.busy = false
        }

        function makeLogin() {
            var login = createTemporaryObject(loginComponent, host, { "mnemonicMode": true })
            verify(login !== null)
            waitForRendering(login)
            return login
        }

        function cells(login) {
            var list = []
            for (var i = 0; i < 12; ++i)
                list.push(findChild(login, "phraseCell" + i).text)
            return list
        }

        function fill(login, texts) {
            for (var i = 0; i < 12; ++i)
                findChild(login, "phraseCell" + i).text = texts[i]
        }

        function test_paste_data() {
            var kept = ["k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9", "k10", "k11"]
            var w = host.twelve
            return [
                { tag: "twelve words into cell 6 fill cells 1-12", at: 5, text: w.join(" "),
                  expect: w },
                { tag: "fifteen words into cell 7 keep the first twelve", at: 6,
                  text: w.concat(["zoo", "zone", "zero"]).join(" "), expect: w },
                { tag: "three words into cell 5 fill 5-7 only", at: 4, text: "alpha beta gamma",
                  expect: ["k0", "k1", "k2", "k3", "alpha", "beta", "gamma", "k7", "k8", "k9", "k10", "k11"] },
                { tag: "three words into cell 11 drop the third", at: 10, text: "alpha beta gamma",
                  expect: ["k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9", "alpha", "beta"] },
                { tag: "tabs, line breaks and ideographic spaces split", at: 0,
                  text: "\t" + w.slice(0, 4).join("\n") + "\u3000" + w.slice(4, 8).join("\r\n")
                        + "\u00a0" + w.slice(8).join("\t") + "\n", expect: w },
                { tag: "one word with spaces stays as typed", at: 2, text: "  Able ",
                  expect: ["k0", "k1", "  Able ", "k3", "k4", "k5", "k6", "k7", "k8", "k9", "k10", "k11"] },
                { tag: "numbering is not removed", at: 0, text: "1. abandon 2. ability",
                  expect: ["1.", "abandon", "2.", "ability", "k4", "k5", "k6", "k7", "k8", "k9", "k10", "k11"] },
                { tag: "a space typed between two words moves the second on", at: 8, text: "absurd a",
                  expect: ["k0", "k1", "k2", "k3", "k4", "k5", "k6", "k7", "absurd", "a", "k10", "k11"] },
            ].map(function (row) { row.kept = kept; return row })
        }

        function test_paste(data) {
            var login = makeLogin()
            fill(login, data.kept)
            findChild(login, "phraseCell" + data.at).text = data.text
            compare(cells(login), data.expect)
        }

        function test_realPasteWithLineBreaks() {
            var login = makeLogin()
            clipSource.text = host.twelve.slice(0, 6).join("\n") + "\n" + host.twelve.slice(6).join(" ")
            clipSource.selectAll()
            clipSource.copy()
            var cell = findChild(login, "phraseCell" + 9)
            cell.forceActiveFocus()
            cell.paste()
            compare(cells(login), host.twelve)
            verify(login.mnemonicComplete)
            // A pasted run of words leaves the focus in the cell that received it.
            verify(cell.activeFocus)
        }

        function typeText(text) {
            for (var i = 0; i < text.length; ++i)
                keyClick(text[i])
        }

        function focusedCell(login) {
            for (var i = 0; i < 12; ++i) {
                if (findChild(login, "phraseCell" + i).activeFocus)
                    return i
            }
            return -1
        }

        // Typing key by key: once a space has sent a word on, the cursor is at
        // the end of the cell that received it, so typing simply continues.
        function test_typing_data() {
            var w = host.twelve
            var blank = ["", "", "", "", "", "", "", "", "", "", "", ""]
            var three = blank.slice(); three[4] = "alpha"; three[5] = "beta"; three[6] = "gamma"
            var split = blank.slice(); split[0] = "abandon"; split[1] = "ability"
            var tail = blank.slice(); tail[10] = "absurd"; tail[11] = "abuse access"
            return [
                { tag: "the whole phrase into cell 1", at: 0, text: w.join(" "),
                  expect: w, focus: 11 },
                { tag: "two spaces between words", at: 0, text: w.join("  "), expect: w, focus: 11 },
                { tag: "three words into cell 5", at: 4, text: "alpha beta gamma",
                  expect: three, focus: 6 },
                { tag: "a space inside a word splits it", at: 0, prefill: "abandonability",
                  cursor: 7, text: " ", expect: split, focus: 1 },
                { tag: "a word past the last cell stays as typed", at: 10, text: "absurd abuse access",
                  expect: tail, focus: 11 },
            ]
        }

        function test_typing(data) {
            var login = makeLogin()
            var cell = findChild(login, "phraseCell" + data.at)
            cell.forceActiveFocus()
            if (data.prefill) {
                cell.text = data.prefill
                cell.cursorPosition = data.cursor
            }
            typeText(data.text)
            compare(cells(login), data.expect)
            compare(focusedCell(login), data.focus)
            var focused = findChild(login, "phraseCell" + data.focus)
            compare(focused.cursorPosition, focused.text.length)
        }

        function test_completeness_data() {
            var full = host.twelve.slice()
            var blankOne = full.slice(); blankOne[7] = "   "
            var emptyLast = full.slice(); emptyLast[11] = ""
            return [
                { tag: "all twelve", texts: full, complete: true },
                { tag: "white space only counts as empty", texts: blankOne, complete: false },
                { tag: "last cell empty", texts: emptyLast, complete: false },
            ]
        }

        function test_completeness(data) {
            var login = makeLogin()
            fill(login, data.texts)
            compare(login.mnemonicComplete, data.complete)
            compare(findChild(login, "loginBtn").enabled, data.complete)
        }

        function test_phraseTextTrimsAndLowers() {
            var login = makeLogin()
            var texts = host.twelve.slice()
            texts[0] = "Abandon "
            texts[3] = "\u3000ABOUT"
            texts[5] = "  "
            fill(login, texts)
            var expected = host.twelve.slice()
            expected[5] = ""
            compare(login.mnemonicText(), expected.join(" "))
            verify(login.mnemonicText().indexOf("above  absorb") > 0)
        }

        function test_signInPassesThePhrase() {
            var login = makeLogin()
            var texts = host.twelve.slice()
            texts[11] = "Accident"
            fill(login, texts)
            mouseClick(findChild(login, "loginBtn"))
            compare(App.callCount("importMnemonicAndLogin"), 1)
            compare(App.lastArgs("importMnemonicAndLogin"), [host.twelve.join(" ")])
            compare(App.callCount("importAndLogin"), 0)
        }

        function test_cellsAreDisabledWhileBusy() {
            var login = makeLogin()
            fill(login, host.twelve)
            App.busy = true
            verify(!findChild(login, "phraseCell0").enabled)
            verify(!findChild(login, "loginBtn").enabled)
            mouseClick(findChild(login, "loginBtn"))
            compare(App.callCount("importMnemonicAndLogin"), 0)
        }
    }
}
