#pragma once

namespace velmor::models {

// Makes the models of this folder known to QML as "Velmor.Models 1.0"
// (KeyedListModel, MessageRowModel, KeyedFilterModel). Once per process,
// before an engine loads a document that imports them; later calls do
// nothing.
void registerQmlTypes();

} // namespace velmor::models
