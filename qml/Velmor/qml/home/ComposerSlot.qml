import QtQuick
import Velmor

// The chat pane's composer: the module's ChatComposer, configured and wired
// by the chat pane.
ChatComposer { }
