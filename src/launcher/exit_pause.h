// The last step of every run but the refused one: on request a banner and a wait for
// one key, so that a console's last lines can be read. Returns the exit code, 0.
#pragma once

int ExitPause();
