#include "bridge_library/Exports.h"

#include "bridge_library/LibraryRuntime.h"

using ovra::brx::Library;

extern "C" {

int BrxLib_Initialize(int reserved, int openMode) { return Library().Initialize(reserved, openMode); }
int BrxLib_UnInitialize(void) { return Library().UnInitialize(); }
int UVC_Open(unsigned index) { return Library().Open(index); }
int UVC_OpenPID(unsigned productId) { return Library().OpenPid(productId); }
int UVC_Close(void) { return Library().Close(); }
int USB_Customer_Control(int mode) { return Library().CustomerControl(mode); }

int ReadI2CSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                         unsigned length, unsigned char* data) {
    return Library().ReadSuperRegister(slave, busMode, addressWidth, registerAddress, length, data);
}

int WriteI2CSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                          unsigned length, const unsigned char* data) {
    return Library().WriteSuperRegister(slave, busMode, addressWidth, registerAddress, length, data);
}

int ReadI2CRegister_DSP(int slave, unsigned dspAddress, unsigned* value, unsigned width) {
    return Library().ReadDspRegister(slave, dspAddress, value, width);
}

int WriteI2CRegister_DSP(int slave, unsigned dspAddress, unsigned value, unsigned width) {
    return Library().WriteDspRegister(slave, dspAddress, value, width);
}

}  // extern "C"
