#include "plugin_host/CleanRequestList.h"

CleanRequest* CleanRequestList::First() {
    cursor_ = 0;
    return Current();
}

CleanRequest* CleanRequestList::Next() {
    if (cursor_ < requests_.size()) ++cursor_;
    return Current();
}

CleanRequest* CleanRequestList::Current() {
    return cursor_ < requests_.size() ? &requests_[cursor_] : nullptr;
}
