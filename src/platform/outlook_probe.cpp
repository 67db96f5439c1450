#include "platform/outlook_probe.h"

std::string ProgramBitness() { return sizeof(void*) == 8 ? "64BITS" : "32BITS"; }

std::string OtherBitness() { return sizeof(void*) == 8 ? "32BITS" : "64BITS"; }

const OutlookProbe& DefaultOutlookProbe() {
    static const BuiltInStoreProbe probe;
    return probe;
}
