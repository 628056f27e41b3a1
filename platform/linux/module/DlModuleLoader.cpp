#include "platform/linux/module/DlModuleLoader.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace ovra {
namespace {

class DlModule final : public Module {
public:
    DlModule(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    ~DlModule() override { dlclose(handle_); }
    DlModule(const DlModule&) = delete;
    DlModule& operator=(const DlModule&) = delete;

    void* Symbol(const char* exportName) const override {
        if (exportName == nullptr) return nullptr;
        return dlsym(handle_, exportName);
    }
    const std::string& Path() const override { return path_; }

private:
    void* handle_;
    std::string path_;
};

}  // namespace

DlModuleLoader::DlModuleLoader() : folder_(ProgramFolder()) {}

DlModuleLoader::DlModuleLoader(std::string folder) : folder_(std::move(folder)) {
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
}

std::string DlModuleLoader::ProgramFolder() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string path(buffer.data(), static_cast<std::size_t>(n));
            const auto slash = path.rfind('/');
            if (slash == std::string::npos) return {};
            return slash == 0 ? std::string("/") : path.substr(0, slash);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string DlModuleLoader::FileNameFor(std::string_view name) {
    constexpr std::string_view kWindowsSuffix = ".dll";
    if (name.size() > kWindowsSuffix.size()) {
        auto suffix = name.substr(name.size() - kWindowsSuffix.size());
        bool isDll = true;
        for (std::size_t i = 0; i < suffix.size(); ++i) {
            char c = suffix[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            if (c != kWindowsSuffix[i]) isDll = false;
        }
        if (isDll) return std::string(name.substr(0, name.size() - kWindowsSuffix.size())) + ".so";
    }
    return std::string(name);
}

ModuleLoadResult DlModuleLoader::Load(std::string_view name) {
    ModuleLoadResult result;
    const std::string fileName = FileNameFor(name);
    // A name with a folder in it would escape the program's folder.
    if (folder_.empty() || fileName.empty() || fileName.find('/') != std::string::npos) {
        result.status = ModuleStatus::NotFound;
        result.path = fileName;
        return result;
    }
    result.path = folder_ == "/" ? "/" + fileName : folder_ + "/" + fileName;

    struct stat info {};
    if (stat(result.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        result.status = ModuleStatus::NotFound;
        return result;
    }
    dlerror();
    void* handle = dlopen(result.path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        result.status = ModuleStatus::NotAModule;
        result.error = reason != nullptr ? reason : "unknown loader error";
        return result;
    }
    result.status = ModuleStatus::Ok;
    result.module = std::make_unique<DlModule>(handle, result.path);
    return result;
}

}  // namespace ovra
