// pelorin: the desktop messenger.
#include "app/application.h"

#include <QtQml/qqmlextensionplugin.h>

Q_IMPORT_QML_PLUGIN(VelmorPlugin)

int main(int argc, char **argv)
{
    return velmor::app::runApplication(argc, argv);
}
