#include "common/log.h"

#include <fcntl.h>
#include <io.h>
#include <cstdio>

// A GUI program's redirected standard error is block-buffered by the run time, and in
// text mode it would turn every "\n" into "\r\n": the lines are written as they are.
void PrepareDiagnostics() {
  _setmode(_fileno(stderr), _O_BINARY);
  setvbuf(stderr, nullptr, _IONBF, 0);
}
