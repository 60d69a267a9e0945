#pragma once
#include <cstddef>
#include <vector>

#include "plugin_host/CleanRequest.h"

// The clean requests of an item manager, kept in one contiguous array, with the cursor that the
// cleaners move while they walk the list. Appending may move the array: do not keep request
// pointers across an Append.
class CleanRequestList {
public:
    void Append(const CleanRequest& request) { requests_.push_back(request); }
    std::size_t Size() const { return requests_.size(); }
    const CleanRequest& At(std::size_t index) const { return requests_[index]; }

    // Puts the cursor on the first request; null when the list is empty.
    CleanRequest* First();
    // Moves the cursor one request on; null at the end.
    CleanRequest* Next();
    // The request under the cursor, or null.
    CleanRequest* Current();

private:
    std::vector<CleanRequest> requests_;
    std::size_t cursor_ = 0;
};
