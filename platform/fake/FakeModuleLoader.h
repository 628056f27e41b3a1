#pragma once
// Test double: modules are tables of export name -> address registered by the
// test. A name that was never registered is "not found"; one registered as
// broken is "not a module".

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/ModuleLoader.h"

namespace ovra {

class FakeModuleLoader final : public ModuleLoader {
public:
    using Exports = std::map<std::string, void*>;

    void Add(const std::string& name, Exports exports) { modules_[name] = std::move(exports); }
    void AddBroken(const std::string& name) { broken_.insert(name); }
    void Remove(const std::string& name) { modules_.erase(name); broken_.erase(name); }

    ModuleLoadResult Load(std::string_view name) override {
        ModuleLoadResult result;
        result.path = std::string(name);
        loads_.push_back(result.path);
        if (broken_.count(result.path) != 0) {
            result.status = ModuleStatus::NotAModule;
            result.error = "invalid ELF header";
            return result;
        }
        auto it = modules_.find(result.path);
        if (it == modules_.end()) return result;
        result.status = ModuleStatus::Ok;
        result.module = std::make_unique<FakeModule>(result.path, it->second);
        return result;
    }

    const std::vector<std::string>& Loads() const { return loads_; }

private:
    class FakeModule final : public Module {
    public:
        FakeModule(std::string path, Exports exports)
            : path_(std::move(path)), exports_(std::move(exports)) {}
        void* Symbol(const char* exportName) const override {
            auto it = exports_.find(exportName);
            return it == exports_.end() ? nullptr : it->second;
        }
        const std::string& Path() const override { return path_; }

    private:
        std::string path_;
        Exports exports_;
    };

    std::map<std::string, Exports> modules_;
    std::set<std::string> broken_;
    std::vector<std::string> loads_;
};

}  // namespace ovra
