import QtQuick
import Velmor

// The program's only window: frameless and transparent, showing the login
// view while nobody is signed in and the home view once somebody is. Its size
// is fixed per view; only full screen (entered from the home view) lifts it.
Window {
    id: root

    readonly property bool isFull: visibility === Window.FullScreen
    readonly property int viewWidth: App.loggedIn ? 1112 : 920
    readonly property int viewHeight: App.loggedIn ? 816 : 560

    // After a sign-in or a logout: back to windowed mode, centred on the
    // screen the window is on (not on the desktop's origin, which would put
    // it on the first monitor), and brought to the front.
    function represent() {
        if (visibility === Window.FullScreen)
            visibility = Window.Windowed
        // Leaving full screen brings back the size from before it, which may
        // be the other view's: the size follows the view shown again.
        width = Qt.binding(function () { return root.viewWidth })
        height = Qt.binding(function () { return root.viewHeight })
        show()
        centre()
        requestActivate()
    }

    function centre() {
        x = Screen.virtualX + Math.max(0, (Screen.width - width) / 2)
        y = Screen.virtualY + Math.max(0, (Screen.height - height) / 2)
    }

    visible: true
    title: I18n.tr("app.name")
    flags: Qt.Window | Qt.FramelessWindowHint | Qt.NoDropShadowWindowHint
    color: "transparent"
    width: viewWidth
    height: viewHeight
    minimumWidth: isFull ? 0 : viewWidth
    minimumHeight: isFull ? 0 : viewHeight
    maximumWidth: isFull ? 16777215 : viewWidth
    maximumHeight: isFull ? 16777215 : viewHeight

    // By address rather than as components declared here: a component
    // declared in this file would load the home view's whole tree of types,
    // and the modules they import, before the login view's first frame.
    // The home view is large: built a slice at a time, the window keeps
    // answering while it comes up after a sign-in. Set here, one after the
    // other: as two bindings the source could change first, and the home
    // view was then built in one go (a frozen window for 300-500 ms).
    function showView() {
        // A start with a saved identity has its sign-in under way before the
        // window is made, and often done before the window's first frame:
        // the login view would be built only to be thrown away unseen. It is
        // built a slice at a time instead, once that sign-in has had its
        // turn; a sign-in still running (or failed) shows it a few frames on.
        // The home view of a start waits for the samples' frame, a few
        // milliseconds after the window's first: see DrawingWarmUp.
        if (App.loggedIn && drawingWarmUp.active && !drawingWarmUp.done)
            return
        const next = App.loggedIn ? "HomeView.qml" : "LoginView.qml"
        if (String(viewLoader.source) === String(Qt.resolvedUrl(next)))
            return
        // The other view, still being built, is dropped first: a loader made
        // synchronous finishes building what it holds before it changes.
        if (viewLoader.status === Loader.Loading)
            viewLoader.source = ""
        viewLoader.asynchronous = App.loggedIn || (root._signingInAtStart && !root._drawn)
        if (App.loggedIn)
            viewLoader.setSource(next, { "buildChatLater": true })
        else
            viewLoader.source = next
    }

    // The home view's documents, compiled on the engine's loading thread
    // while a sign-in runs: compiling them once it had completed left the
    // window idle for about 100 ms before the first slice of the view was
    // built. Only the types are made, no object of them; the loader then
    // finds them compiled.
    property Component _homeTypes: null
    function prepareHomeView() {
        if (_homeTypes === null)
            _homeTypes = Qt.createComponent("HomeView.qml", Component.Asynchronous)
    }

    // Whether the window has shown anything yet. A sign-in that completes
    // before the first frame (a saved identity and a quick relay) shows no
    // login view: the home view is built a slice at a time all the same,
    // in a window that shows nothing meanwhile and whose graphics are set
    // up for the first frame in the meantime; the sidebar's rows show as
    // soon as they are built, ahead of the rest of the view. Built in one
    // go, it held the window's thread for all of that and the graphics
    // were set up only after it.
    property bool _drawn: false
    Connections {
        target: root._drawn ? null : root
        function onFrameSwapped() { root._drawn = true }
    }

    // The kinds of drawing the home view's first frame holds, drawn out of
    // sight while it is built.
    DrawingWarmUp {
        id: drawingWarmUp
        active: root._signingInAtStart
        onDoneChanged: {
            if (App.loggedIn)
                root.showView()
        }
        x: -width - 64
        width: 320
        height: 120
        // A row of the sidebar's kinds: a card, a round avatar, a picture,
        // a name in both weights and a line of rich text. One letter each:
        // glyphs are made while the window's thread waits for the frame.
        samples: Item {
            Rectangle { width: 300; height: 64; radius: 12; color: "#2effffff"; border.width: 1; border.color: "#66ffffff" }
            Rectangle { x: 10; y: 8; width: 48; height: 48; radius: 24; color: Theme.avatarBg }
            Image { x: 200; width: 24; height: 24; source: "../assets/icons/tg/search.svg"; sourceSize: Qt.size(48, 48); smooth: true }
            Text { x: 68; y: 8; text: "a"; font.pixelSize: Theme.fontBody; font.weight: Font.DemiBold; color: "white" }
            Text { x: 68; y: 30; text: "a"; font.pixelSize: Theme.fontBody; color: "#b3ffffff" }
            Text { x: 68; y: 50; text: "<b>a</b>"; textFormat: Text.StyledText; font.pixelSize: Theme.fontFootnote; color: "#b3ffffff" }
        }
    }

    Loader {
        id: viewLoader
        objectName: "viewLoader"
        anchors.fill: parent
    }

    // Over both views: the store's trouble is told whether or not the
    // sign-in has finished. It starts right of the window's own buttons
    // (close, minimise, zoom), which both views keep in their top left
    // corner within 134 px of the edge, so they stay in sight and in reach.
    StoreNotice {
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.margins: Theme.space8
        anchors.leftMargin: 148
    }

    Connections {
        target: App

        function onLoggedInChanged() {
            if (root._drawn) {
                root.showView()
                Qt.callLater(root.represent)
            } else {
                root.represent()
                root.showView()
            }
        }

        // Once the views have answered the busy state: a document they load
        // then would wait for the home view's to be compiled.
        function onBusyChanged() {
            if (App.busy)
                Qt.callLater(root.prepareHomeView)
        }
    }

    property bool _signingInAtStart: false

    Component.onCompleted: {
        _signingInAtStart = App.hasSavedIdentity()
        showView()
        // Without this the first window opens wherever the platform puts
        // it, which on X without a window manager is the desktop's corner.
        centre()
        if (_signingInAtStart)
            App.autoLogin()
        // The automatic sign-in's job was started with the program and may
        // be done by the time the window is: its home view is built as soon
        // as the window has loaded, so its documents are compiled from now.
        if (App.busy)
            prepareHomeView()
    }
}
