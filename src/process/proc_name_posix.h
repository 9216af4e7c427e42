// The executable name of one process under /proc, from what its entry shows: the
// exe link, the command line and the short command name (comm). Pure, so that each
// rule can be tried without such a process.
#pragma once
#include <string>

// exeLink: the target of /proc/<pid>/exe, empty when it cannot be read (a process of
// another user). cmdline: /proc/<pid>/cmdline as read, arguments ended by NUL bytes.
// comm: the first line of /proc/<pid>/comm, which the kernel cuts to 15 bytes.
std::string ProcExecutableName(const std::string& exeLink, const std::string& cmdline, const std::string& comm);
