// The description of the data attached to a letter, as the host suite's data-processing
// library gives it: each attachment is saved into DataDir as "<name>_info", and the library's
// GetInfoFromFile describes the last one.
#pragma once

#include "store/letter_files.h"

#include <string>

namespace tzn {

// The host suite's data-processing library (loaded as "Kesmora9.so" from the mapped folder).
inline constexpr const char* kDataProcessingLibrary = "C:\\PLAV\\Kesmora9.dll";

// The library's entry: takes the info file's path (CP1251, Windows form as the module keeps
// it) and returns the description as zero-terminated CP1251 text that stays valid until the
// next call or until the library is released; nullptr for none.
using TGetInfoFromFile = const char* (*)(const char* path);

// The description for letter `fileName` of `folder`; empty when the library is absent, the
// letter has no attachment, or anything fails. Never throws. The info files stay in DataDir.
std::string GetAttachedDataInfo(const std::string& fileName, MailFolder folder);

} // namespace tzn
