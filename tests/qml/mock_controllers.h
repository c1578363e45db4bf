#pragma once
// Puts the mock controllers of mocks/ on an engine's root context under the
// names the views use ("App", "Chat", "Voice", "VoiceRoom"); shared by the
// Qt Quick tests and the screenshot tool.
#include <QHash>
#include <QString>

class QObject;
class QQmlEngine;

namespace velmor::qmltest {

// Creates one mock per controller name from <mockDir>/Mock<Name>.qml, parents
// it to the engine and returns them by name; an empty map and the component's
// error in *error when a mock does not load.
QHash<QString, QObject *> installMockControllers(QQmlEngine *engine, const QString &mockDir,
                                                 QString *error);

} // namespace velmor::qmltest
