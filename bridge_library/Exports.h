#pragma once
// The ten plain C exports of the bridge library, bound by name at run time.
// Every result is an int.

#ifdef __cplusplus
extern "C" {
#endif

#define BRX_EXPORT __attribute__((visibility("default")))

BRX_EXPORT int BrxLib_Initialize(int reserved, int openMode);
BRX_EXPORT int BrxLib_UnInitialize(void);
BRX_EXPORT int UVC_Open(unsigned index);
BRX_EXPORT int UVC_OpenPID(unsigned productId);
BRX_EXPORT int UVC_Close(void);
BRX_EXPORT int USB_Customer_Control(int mode);
BRX_EXPORT int ReadI2CSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                                    unsigned length, unsigned char* data);
BRX_EXPORT int WriteI2CSuperRegister(int slave, int busMode, int addressWidth,
                                     unsigned registerAddress, unsigned length,
                                     const unsigned char* data);
BRX_EXPORT int ReadI2CRegister_DSP(int slave, unsigned dspAddress, unsigned* value, unsigned width);
BRX_EXPORT int WriteI2CRegister_DSP(int slave, unsigned dspAddress, unsigned value, unsigned width);

#ifdef __cplusplus
}
#endif
