#pragma once
// The proxy image the bridge library carries: the KvsUpx program that is
// built and shipped next to the library in the bin folder. The library reads
// it from the folder it was itself loaded from.

#include <cstdint>
#include <string>
#include <vector>

namespace ovra::proxy {

// Folder of the loaded module (program or shared library) that contains
// `addressInModule`; empty when unknown.
std::string ModuleFolderOf(const void* addressInModule);

// Reads a whole file; false when it cannot.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

}  // namespace ovra::proxy
