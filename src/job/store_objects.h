// The store objects a conversion keeps between its steps: the PST export's root folder and the
// folder of the row being imported. Each slot holds one counted reference; assigning a slot
// takes the new object before the old one goes, and assigning the object already held changes
// nothing. (The item collection and the item being filled live with the exporter that uses
// them, for one message.)
#pragma once

#include <memory>

#include "store/session.h"

struct StoreObjects {
    std::shared_ptr<store::RDOFolder> root_folder;
    std::shared_ptr<store::RDOFolder> target_folder;
};

// The one record of the running program, used by the conversion worker only.
StoreObjects& CurrentStoreObjects();
