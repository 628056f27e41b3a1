#pragma once
// Port: run-time library loading by name. The programs ask for a module by the
// name the other program family knows it under ("B2Xlib.dll"); the adapter maps
// that name to the file of this platform in the program's own folder and binds
// exports by name. A missing file or export is an ordinary result (the caller
// leaves a slot empty); a file that is there but cannot be loaded is told
// apart so that the caller can say why.

#include <memory>
#include <string>
#include <string_view>

namespace ovra {

enum class ModuleStatus {
    Ok,
    NotFound,      // no such file in the program's folder
    NotAModule,    // the file exists but is not a loadable library for this program
};

const char* ToString(ModuleStatus status);

class Module {
public:
    virtual ~Module() = default;
    // The export's address, or null when the module has no such export.
    virtual void* Symbol(const char* exportName) const = 0;
    // The file the module was loaded from.
    virtual const std::string& Path() const = 0;
};

struct ModuleLoadResult {
    std::unique_ptr<Module> module;  // null unless status is Ok
    ModuleStatus status = ModuleStatus::NotFound;
    std::string path;                // the file that was tried
    std::string error;               // the loader's reason when status is NotAModule
};

class ModuleLoader {
public:
    virtual ~ModuleLoader() = default;
    // `name` as the programs spell it, e.g. "ITECCTdll.dll".
    virtual ModuleLoadResult Load(std::string_view name) = 0;
};

// Typed export lookup: null when the module or the export is missing.
template <typename Function>
Function* BindExport(const Module* module, const char* exportName) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function*>(module->Symbol(exportName));
}

}  // namespace ovra
