#include "job/store_objects.h"

StoreObjects& CurrentStoreObjects() {
    static StoreObjects objects;
    return objects;
}
