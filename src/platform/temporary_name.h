// What the hidden name of a file being written says about its writer.
#pragma once

#include <string>

namespace platform {

// The process id in a temporary name ".<name>.<pid>.part" (see TemporaryNameFor), or 0 when
// name is none.
long TemporaryNameOwner(const std::string& name);

}  // namespace platform
