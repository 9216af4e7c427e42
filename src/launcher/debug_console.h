// The debug console: on Windows a console of the helper's own, to which the standard
// streams are sent; on Linux the streams already go wherever the caller put them.
#pragma once

void OpenDebugConsole();
