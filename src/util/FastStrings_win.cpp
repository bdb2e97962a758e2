// Windows: large pages need a privilege the host process does not have, so a large
// result is faulted in page by page as the heap gives it.
#include "util/FastStrings_kernel.h"

void PrepareLargeOutput(void*, size_t) {}
