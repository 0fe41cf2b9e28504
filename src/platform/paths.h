// Windows-form paths and their place on this system.
// The module keeps paths as the original system writes them ("C:\PLAV\OFFICE\MAIL\"); every
// file operation maps them here: "X:\a\b" -> $TZN_ROOT/X/a/b, "/..." is native already,
// anything else is relative to the current folder. "\" and "/" both separate.
#pragma once

#include <filesystem>
#include <string>

namespace tzn {

std::filesystem::path TznRoot(); // $TZN_ROOT, else $HOME/.local/share/tznmail
std::filesystem::path NativePath(const std::string& path);
std::string WindowsDirectory();              // "C:\WINDOWS"
std::filesystem::path SystemTempDirectory(); // $TMPDIR, else /tmp

// Path helpers on Windows-form text (both separators accepted).
std::string ExtractFilePath(const std::string& path); // up to and including the last separator
std::string ExtractFileName(const std::string& path); // after the last separator
std::string IncludeTrailingBackslash(const std::string& path);

} // namespace tzn
