#include "app/network_access.h"

#include "net/picture_access.h"

#include <QQmlEngine>
#include <QQmlNetworkAccessManagerFactory>

namespace velmor::app {

namespace {

class PictureAccessFactory : public QQmlNetworkAccessManagerFactory
{
public:
    // Called on the engine's loader threads too; keeps no state.
    QNetworkAccessManager *create(QObject *parent) override { return new net::PictureAccessManager(parent); }
};

} // namespace

void installNetworkAccess(QQmlEngine &engine)
{
    // The engine does not own its factory; one serves every engine.
    static PictureAccessFactory factory;
    engine.setNetworkAccessManagerFactory(&factory);
}

} // namespace velmor::app
