#include "grimlet/threads/WormThreadList.h"

WormThreadList& WormThreadList::Instance() {
    static WormThreadList instance;
    return instance;
}
