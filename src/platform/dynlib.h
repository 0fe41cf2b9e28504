// Loading the host suite's optional libraries: "X:\...\name.dll" is loaded as the mapped
// "name.so" (dlopen).
#pragma once

#include <string>

namespace tzn {

using TLibraryHandle = void*;
TLibraryHandle LoadLibrary(const std::string& path); // nullptr when it cannot be loaded
void* GetProcAddress(TLibraryHandle lib, const std::string& name);
void FreeLibrary(TLibraryHandle lib);

} // namespace tzn
