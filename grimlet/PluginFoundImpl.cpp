#include "grimlet/PluginFoundImpl.h"

#include "grimlet/PluginState.h"

int PluginFoundImpl::GetTypeId() { return PluginState::Instance().typeId; }
