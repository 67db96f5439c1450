// The store objects a conversion keeps between its steps: the PST export's root and target
// folders with the target's items, and the message item being filled. Each slot holds one
// counted reference; assigning a slot takes the new object before the old one goes, and
// assigning the object already held changes nothing.
#pragma once

#include <memory>

#include "store/session.h"

struct StoreObjects {
    std::shared_ptr<store::RDOFolder> root_folder;
    std::shared_ptr<store::RDOFolder> target_folder;
    std::shared_ptr<store::RDOItems> target_items;
    std::shared_ptr<store::RDOMail> current_item;
};

// The one record of the running program, used by the conversion worker only.
StoreObjects& CurrentStoreObjects();
