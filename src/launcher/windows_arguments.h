// Argument lists in the Windows command-line form: what a Windows program's start-up
// code (CommandLineToArgvW) splits, and how to write a list so that it splits back.
// The Linux build uses them where Windows would hand over one command-line text.
#pragma once
#include <string>
#include <vector>

// Joins with single spaces; an argument that is empty or holds a space, tab or double
// quote is quoted, its quotes and the backslashes before them escaped.
std::string JoinWindowsArguments(const std::vector<std::string>& args);

// Splits an argument text (no program name in front) as CommandLineToArgvW splits
// what follows the program name.
std::vector<std::string> SplitWindowsArguments(const std::string& text);
