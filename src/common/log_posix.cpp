#include "common/log.h"

#include <cstdio>

void PrepareDiagnostics() { setvbuf(stderr, nullptr, _IONBF, 0); }
