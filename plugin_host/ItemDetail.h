#pragma once

// Optional detail data that a scanner attaches to a finding and that travels with the item. The
// engine only carries it; whoever made it knows its real type.
class ItemDetail {
public:
    virtual ~ItemDetail() = default;
};
