#include "mock_controllers.h"

#include "models/qml_types.h"
#include "qml/Velmor/src/emoji_images.h"
#include "qml/Velmor/src/round_pictures.h"
#include "qml/Velmor/src/sheet_pictures.h"
#include "qml/Velmor/src/card_shadows.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QUrl>

namespace velmor::qmltest {

QHash<QString, QObject *> installMockControllers(QQmlEngine *engine, const QString &mockDir,
                                                 QString *error)
{
    // The mocks hold the same list models as the real controller.
    velmor::models::registerQmlTypes();
    // Texts with emoji show them as pictures of this provider, as in the
    // program.
    velmor::views::installEmojiImages(engine);
    velmor::views::installRoundPictures(engine);
    velmor::views::installSheetPictures(engine);
    velmor::views::installCardShadows(engine);
    QHash<QString, QObject *> mocks;
    for (const QString name : { QStringLiteral("App"), QStringLiteral("Chat"),
                                QStringLiteral("Voice"), QStringLiteral("VoiceRoom") }) {
        QQmlComponent component(engine,
                                QUrl::fromLocalFile(mockDir + QStringLiteral("/Mock") + name
                                                    + QStringLiteral(".qml")));
        QObject *mock = component.create();
        if (!mock) {
            if (error)
                *error = name + QStringLiteral(": ") + component.errorString();
            qDeleteAll(mocks);
            return {};
        }
        mock->setParent(engine);
        engine->rootContext()->setContextProperty(name, mock);
        mocks.insert(name, mock);
    }
    return mocks;
}

} // namespace velmor::qmltest
