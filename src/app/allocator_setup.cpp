#include "app/allocator_setup.h"

#ifdef OMBRIK_WITH_MIMALLOC
#include <mimalloc.h>
#endif

void ReturnFreedMemoryPromptly() {
#ifdef OMBRIK_WITH_MIMALLOC
    mi_option_set(mi_option_decommit_delay, 0);
#endif
}
