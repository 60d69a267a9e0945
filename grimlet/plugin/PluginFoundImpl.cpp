#include "grimlet/plugin/PluginFoundImpl.h"

#include "grimlet/plugin/PluginState.h"

int PluginFoundImpl::GetTypeId() { return typeId_ ? typeId_ : PluginState::Instance().typeId; }
