#pragma once
// The bridge library's exports as the programs bind them by name: plain C
// functions, every result a 32-bit int. The device handle that the open
// exports return is an unsigned 32-bit value (0 = no device).

#include <cstdint>

namespace ovra {

extern "C" {
using BrxLibInitializeFn = int(int reserved, int openMode);
using BrxLibUnInitializeFn = int();
using UvcOpenFn = unsigned(unsigned index);
using UvcOpenPidFn = unsigned(unsigned productId);
using UvcCloseFn = int();
using UsbCustomerControlFn = int(int mode);
using ReadI2CSuperRegisterFn = int(int slave, int busMode, int addressWidth,
                                   unsigned registerAddress, unsigned length, unsigned char* data);
using WriteI2CSuperRegisterFn = int(int slave, int busMode, int addressWidth,
                                    unsigned registerAddress, unsigned length,
                                    const unsigned char* data);
using ReadI2CRegisterDspFn = int(int slave, unsigned dspAddress, unsigned* value, unsigned width);
using WriteI2CRegisterDspFn = int(int slave, unsigned dspAddress, unsigned value, unsigned width);
}

}  // namespace ovra
