// How the window's allocator gives memory back.
#pragma once

// The allocator keeps memory freed by a thread for a while before it returns it to the system,
// which pays in a short run that frees and takes the same sizes over and over. The window lives
// long, runs a conversion on threads that come and go, and is otherwise idle: there the memory
// goes back as soon as it is free (some 5 MiB less at the peak of a conversion).
void ReturnFreedMemoryPromptly();
