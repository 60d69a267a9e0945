#include "grimlet/plugin/PluginFoundImpl.h"

#include "grimlet/plugin/PluginState.h"

int PluginFoundImpl::GetTypeId() { return PluginState::Instance().typeId; }
