// Test helper program: loads one copy of the bridge library, opens the bridge
// by product number and writes `count` 4-byte super-register blocks, each
// block filled with the byte `tag` followed by a running number. Exits 0 when
// every write succeeded.
//   BridgeHammer <library file> <product id hex> <tag> <count>

#include <cstdio>
#include <cstdlib>

#include "tests/bridge_lib_integration/LoadedBridgeLibrary.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    ovra::test::LoadedBridgeLibrary lib(argv[1]);
    if (!lib.Complete()) return 3;
    const unsigned productId = static_cast<unsigned>(std::strtoul(argv[2], nullptr, 16));
    const auto tag = static_cast<unsigned char>(std::strtoul(argv[3], nullptr, 0));
    const int count = std::atoi(argv[4]);
    if (lib.Initialize(0, 0) != 1) return 4;
    if (lib.OpenPid(productId) == 0) return 5;
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        const unsigned char block[4] = {tag, tag, static_cast<unsigned char>(i), static_cast<unsigned char>(i >> 8)};
        if (lib.WriteSuper(0x52, 2, 1, 0x10, sizeof block, block) != 1) ++failed;
    }
    lib.Close();
    lib.UnInitialize();
    if (failed) std::fprintf(stderr, "BridgeHammer: %d of %d writes failed\n", failed, count);
    return failed ? 1 : 0;
}
