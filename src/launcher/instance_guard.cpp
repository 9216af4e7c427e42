#include "launcher/instance_guard.h"

const char kInstanceLockName[] = "{741BDB7C-B3FC-4B7D-AB3D-3EF5CF1032CC}";
