import QtQml

// Base of the controller stand-ins. Every invokable of a mock calls record()
// so a test can assert which calls a view made, in which order and with which
// arguments; results come from `returns` (keyed by method name) when a test
// sets one. Signals are emitted by calling them: `Chat.currentChanged()`.
QtObject {
    id: mock

    property var calls: []
    property var returns: ({})

    signal called(string name, var args)

    function record(name, args) {
        var list = args === undefined ? [] : Array.prototype.slice.call(args)
        var next = calls.slice()
        next.push({ "name": name, "args": list })
        calls = next
        called(name, list)
    }

    function callCount(name) {
        var n = 0
        for (var i = 0; i < calls.length; ++i)
            if (calls[i].name === name)
                ++n
        return n
    }

    function lastArgs(name) {
        for (var i = calls.length - 1; i >= 0; --i)
            if (calls[i].name === name)
                return calls[i].args
        return undefined
    }

    function callNames() {
        return calls.map(function (c) { return c.name })
    }

    function result(name, fallback) {
        return Object.prototype.hasOwnProperty.call(returns, name) ? returns[name] : fallback
    }

    function reset() {
        calls = []
        returns = ({})
    }
}
