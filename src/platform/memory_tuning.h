// Allocator settings for a converting process.
#pragma once

namespace platform {

// Each message's text is built in a fresh buffer of up to a few megabytes. Left to its
// defaults, the allocator hands such buffers back to the system after every message and
// faults fresh zeroed pages in for the next one, which costs more than reading the folder.
// Keeping them in the heap bounds memory just the same: one message is held at a time.
void KeepMessageBuffersInTheHeap();

}  // namespace platform
