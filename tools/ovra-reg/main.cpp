// ovra-reg: inspect and edit the settings store.
//   ovra-reg list [KEY]                  sub-keys ("name\") and values
//   ovra-reg get KEY NAME                prints "TYPE DATA"
//   ovra-reg set KEY NAME TYPE DATA      TYPE: REG_DWORD, REG_SZ, REG_BINARY
//   ovra-reg delete KEY [NAME]
//   ovra-reg export [KEY]                text that "import" reads back exactly
//   ovra-reg import FILE                 FILE "-" reads standard input
// Exit codes: 0 done, 1 not found, 2 usage error, 3 store failure.

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/registry/SqliteRegistry.h"
#include "tools/ovra-reg/RegText.h"
#include "tools/ovra-reg/RegTree.h"

namespace ovra {
namespace {

constexpr int kDone = 0;
constexpr int kNotFound = 1;
constexpr int kUsage = 2;
constexpr int kStoreFailure = 3;

constexpr const char* kUsageText =
    "usage: ovra-reg list [KEY]\n"
    "       ovra-reg get KEY NAME\n"
    "       ovra-reg set KEY NAME TYPE DATA   (TYPE: REG_DWORD, REG_SZ, REG_BINARY)\n"
    "       ovra-reg delete KEY [NAME]\n"
    "       ovra-reg export [KEY]\n"
    "       ovra-reg import FILE\n"
    "KEY is HKLM\\... or HKCU\\... with backslashes.\n";

bool ReadAll(const std::string& file, std::string* text) {
    std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (!in) return false;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
    const bool ok = !std::ferror(in);
    if (in != stdin) std::fclose(in);
    return ok;
}

int Usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "ovra-reg: " << problem << "\n";
    std::cerr << kUsageText;
    return kUsage;
}

class Tool {
public:
    Tool() : registry_(log_) {}

    int Run(const std::vector<std::string>& args) {
        if (args.empty()) return Usage("");
        const std::string& command = args[0];
        const std::size_t count = args.size() - 1;
        if (command == "list" && count <= 1) return List(count ? args[1] : "");
        if (command == "get" && count == 2) return Get(args[1], args[2]);
        if (command == "set" && count == 4) return Set(args[1], args[2], args[3], args[4]);
        if (command == "delete" && (count == 1 || count == 2))
            return Delete(args[1], count == 2 ? &args[2] : nullptr);
        if (command == "export" && count <= 1) return Export(count ? args[1] : "");
        if (command == "import" && count == 1) return Import(args[1]);
        return Usage("unknown command or wrong number of arguments");
    }

private:
    // Maps a store status to the exit code, with a message for failures.
    int Outcome(RegistryStatus status, const std::string& what) {
        switch (status) {
            case RegistryStatus::Ok:
                return kDone;
            case RegistryStatus::NotFound:
                std::cerr << "ovra-reg: " << what << " not found\n";
                return kNotFound;
            case RegistryStatus::InvalidName:
            case RegistryStatus::TooLarge:
            case RegistryStatus::AccessDenied:
            case RegistryStatus::MoreData:
                std::cerr << "ovra-reg: " << what << ": " << RegistryStatusName(status) << "\n";
                return kUsage;
            case RegistryStatus::Unavailable:
            case RegistryStatus::Failed:
                break;
        }
        const std::string& file = registry_.StoreFile();
        std::cerr << "ovra-reg: settings store "
                  << (file.empty() ? std::string("(no folder: set OVRA_CONFIG_DIR)") : file) << ": "
                  << RegistryStatusName(status) << " (" << what << ")\n";
        return kStoreFailure;
    }

    bool Key(const std::string& text, KeyName* key) {
        if (ParseKeyName(text, key)) return true;
        Usage("not a key: \"" + text + "\" (expected HKLM\\... or HKCU\\...)");
        return false;
    }

    int List(const std::string& keyText) {
        if (keyText.empty()) {
            std::cout << "HKLM\\\nHKCU\\\n";
            return kDone;
        }
        KeyName name;
        if (!Key(keyText, &name)) return kUsage;
        std::unique_ptr<RegistryKey> key;
        RegistryStatus status = registry_.OpenKey(name.root, name.path, RegistryAccess::Read, &key);
        std::vector<std::string> subKeys;
        std::vector<NamedRegistryValue> values;
        if (status == RegistryStatus::Ok) status = key->EnumSubKeys(&subKeys);
        if (status == RegistryStatus::Ok) status = key->EnumValues(&values);
        if (status != RegistryStatus::Ok) return Outcome(status, FormatKeyName(name));
        for (const auto& sub : subKeys) std::cout << sub << "\\\n";
        for (const auto& value : values)
            std::cout << QuoteText(value.name) << " " << FormatValueForDisplay(value.value) << "\n";
        return kDone;
    }

    int Get(const std::string& keyText, const std::string& valueName) {
        KeyName name;
        if (!Key(keyText, &name)) return kUsage;
        std::unique_ptr<RegistryKey> key;
        RegistryStatus status = registry_.OpenKey(name.root, name.path, RegistryAccess::Read, &key);
        if (status != RegistryStatus::Ok) return Outcome(status, FormatKeyName(name));
        RegistryValue value;
        status = key->QueryValue(valueName, &value);
        if (status != RegistryStatus::Ok)
            return Outcome(status, FormatKeyName(name) + " value " + QuoteText(valueName));
        std::cout << FormatValueForDisplay(value) << "\n";
        return kDone;
    }

    int Set(const std::string& keyText, const std::string& valueName, const std::string& type,
            const std::string& data) {
        KeyName name;
        if (!Key(keyText, &name)) return kUsage;
        if (!IsValidRegistryValueName(valueName)) return Usage("invalid value name");
        RegistryValue value;
        std::string error;
        if (!ParseSetValue(type, data, &value, &error)) return Usage(error);
        std::unique_ptr<RegistryKey> key;
        RegistryStatus status = registry_.CreateKey(name.root, name.path, &key);
        if (status == RegistryStatus::Ok) status = key->SetValue(valueName, value.type, value.data);
        return Outcome(status, FormatKeyName(name));
    }

    int Delete(const std::string& keyText, const std::string* valueName) {
        KeyName name;
        if (!Key(keyText, &name)) return kUsage;
        if (!valueName) {
            if (name.path.empty()) return Usage("a root cannot be deleted");
            return Outcome(registry_.DeleteKey(name.root, name.path), FormatKeyName(name));
        }
        std::unique_ptr<RegistryKey> key;
        RegistryStatus status =
            registry_.OpenKey(name.root, name.path, RegistryAccess::ReadWrite, &key);
        if (status != RegistryStatus::Ok) return Outcome(status, FormatKeyName(name));
        status = key->DeleteValue(*valueName);
        return Outcome(status, FormatKeyName(name) + " value " + QuoteText(*valueName));
    }

    int Export(const std::string& keyText) {
        std::vector<KeyName> roots;
        if (keyText.empty()) {
            roots = {{RegistryRoot::LocalMachine, ""}, {RegistryRoot::CurrentUser, ""}};
        } else {
            KeyName name;
            if (!Key(keyText, &name)) return kUsage;
            roots.push_back(name);
        }
        std::string text = "; settings store export (ovra-reg)\n\n";
        for (const auto& root : roots) {
            const RegistryStatus status = ExportTree(registry_, root, &text);
            if (status != RegistryStatus::Ok) return Outcome(status, FormatKeyName(root));
        }
        std::cout << text;
        return std::cout.flush() ? kDone : kStoreFailure;
    }

    int Import(const std::string& file) {
        std::string text;
        if (!ReadAll(file, &text)) return Usage("cannot read " + file);
        std::vector<ImportedKey> keys;
        std::string error;
        if (!ParseExport(text, &keys, &error)) return Usage(file + ": " + error);
        std::string failedKey;
        const RegistryStatus status = ImportKeys(registry_, keys, &failedKey);
        return Outcome(status, failedKey);
    }

    StderrDebugLog log_;
    SqliteRegistry registry_;
};

}  // namespace
}  // namespace ovra

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    ovra::Tool tool;
    return tool.Run(args);
}
