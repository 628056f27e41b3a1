#pragma once
// One copy of the bridge library loaded from the build's bin folder by file
// name, with its ten exports bound by name, as the programs bind them.

#include <dlfcn.h>

#include <cstdlib>
#include <string>

namespace ovra::test {

inline std::string BridgeBinDir() {
    const char* dir = std::getenv("OVRA_BIN_DIR");
    return dir ? dir : ".";
}

struct LoadedBridgeLibrary {
    explicit LoadedBridgeLibrary(const std::string& fileName) {
        handle = ::dlopen((BridgeBinDir() + "/" + fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        Bind(Initialize, "BrxLib_Initialize");
        Bind(UnInitialize, "BrxLib_UnInitialize");
        Bind(Open, "UVC_Open");
        Bind(OpenPid, "UVC_OpenPID");
        Bind(Close, "UVC_Close");
        Bind(CustomerControl, "USB_Customer_Control");
        Bind(ReadSuper, "ReadI2CSuperRegister");
        Bind(WriteSuper, "WriteI2CSuperRegister");
        Bind(ReadDsp, "ReadI2CRegister_DSP");
        Bind(WriteDsp, "WriteI2CRegister_DSP");
    }
    LoadedBridgeLibrary(const LoadedBridgeLibrary&) = delete;
    LoadedBridgeLibrary& operator=(const LoadedBridgeLibrary&) = delete;

    bool Complete() const {
        return handle && Initialize && UnInitialize && Open && OpenPid && Close && CustomerControl &&
               ReadSuper && WriteSuper && ReadDsp && WriteDsp;
    }

    void* handle = nullptr;
    int (*Initialize)(int, int) = nullptr;
    int (*UnInitialize)() = nullptr;
    int (*Open)(unsigned) = nullptr;
    int (*OpenPid)(unsigned) = nullptr;
    int (*Close)() = nullptr;
    int (*CustomerControl)(int) = nullptr;
    int (*ReadSuper)(int, int, int, unsigned, unsigned, unsigned char*) = nullptr;
    int (*WriteSuper)(int, int, int, unsigned, unsigned, const unsigned char*) = nullptr;
    int (*ReadDsp)(int, unsigned, unsigned*, unsigned) = nullptr;
    int (*WriteDsp)(int, unsigned, unsigned, unsigned) = nullptr;

private:
    template <typename F>
    void Bind(F& slot, const char* name) {
        slot = reinterpret_cast<F>(::dlsym(handle, name));
    }
};

}  // namespace ovra::test
