#pragma once
// Loads libraries with dlopen from one folder: by default the folder of the
// running program (found through /proc/self/exe, never the current directory),
// so that every program of an installation finds the libraries next to it.
// "X.dll" is the file "X.so". Each library is loaded RTLD_LOCAL so that two
// files built from the same sources keep separate state and symbols.

#include <string>

#include "platform/ModuleLoader.h"

namespace ovra {

class DlModuleLoader final : public ModuleLoader {
public:
    DlModuleLoader();                                  // the program's own folder
    explicit DlModuleLoader(std::string folder);       // an explicit folder (tests, tools)

    ModuleLoadResult Load(std::string_view name) override;

    const std::string& Folder() const { return folder_; }

    // The folder holding the running program's executable, without a trailing
    // slash; empty when it cannot be found.
    static std::string ProgramFolder();
    // "X.dll" -> "X.so"; other names are kept as they are.
    static std::string FileNameFor(std::string_view name);

private:
    std::string folder_;
};

}  // namespace ovra
