#include "models/qml_types.h"

#include "models/conversation_row_model.h"
#include "models/keyed_filter_model.h"
#include "models/keyed_list_model.h"
#include "models/message_row_model.h"

#include <QtQml/qqml.h>

namespace velmor::models {

void registerQmlTypes()
{
    static const bool registered = [] {
        const char *uri = "Velmor.Models";
        qmlRegisterType<KeyedListModel>(uri, 1, 0, "KeyedListModel");
        qmlRegisterType<MessageRowModel>(uri, 1, 0, "MessageRowModel");
        qmlRegisterType<ConversationRowModel>(uri, 1, 0, "ConversationRowModel");
        qmlRegisterType<KeyedFilterModel>(uri, 1, 0, "KeyedFilterModel");
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace velmor::models
