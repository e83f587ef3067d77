// libibfs32: the TMEX 1-Wire API subset that the program uses, for Linux.
//
// The program loads the library at run time and looks every function up by name, so this header is
// the contract for anyone who builds a replacement (the test double of the program's binding does).
// All functions have C linkage and fixed-width types: a session handle is 32-bit, everything else
// 16-bit.
//
// Results: a session handle > 0 is valid; TMSetup 1 = ready (2 = ready, but the 1-Wire is
// shorted); TMFirst/TMNext 1 = a device was found and is now the current device, 0 = no (more)
// devices; TMAccess 1 = presence and the current device selected (reset + Match ROM), 0 = no
// presence; TMTouchByte the byte read; TMBlockStream the number of bytes. A negative result is an
// error (IBFS32_ERROR_...).
//
// Port types: 5 = DS2480B-based serial adapter (DS9097U), 6 = DS2490-based USB adapter (DS9490;
// port N is the N-th one in USB bus/address order). Serial port numbers and the default port come
// from ibfs32.ini (see README.md).
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(IBFS32_BUILDING)
#define IBFS32_API __attribute__((visibility("default")))
#else
#define IBFS32_API
#endif

enum {
    IBFS32_PORT_TYPE_SERIAL = 5,
    IBFS32_PORT_TYPE_USB = 6,
    IBFS32_STATE_BUFFER_SIZE = 15360,
};

enum {
    IBFS32_ERROR_INVALID_SESSION = -1, // no such session, or a null pointer where one is needed
    IBFS32_ERROR_PORT_TYPE = -2,       // port type unknown or its driver not available
    IBFS32_ERROR_PORT_OPEN = -3,       // port number without a device, device missing, no access
    IBFS32_ERROR_PORT_BUSY = -4,       // another session or program holds the port
    IBFS32_ERROR_NO_ADAPTER = -5,      // the device does not answer like the adapter
    IBFS32_ERROR_COMMUNICATION = -6,   // timeout or broken link; the session stays unusable
};

// Fills the default port from the configuration file. Returns 1 when one is configured; otherwise
// 0, with both values 0.
IBFS32_API int16_t TMReadDefaultPort(int16_t* portNum, int16_t* portType);

// Opens the adapter and checks that it answers. enhancedOptions is ignored (pass NULL).
IBFS32_API int32_t TMExtendedStartSession(int16_t portNum, int16_t portType, void* enhancedOptions);

IBFS32_API int16_t TMSetup(int32_t session);
IBFS32_API int16_t TMEndSession(int32_t session);

// The search state lives in the session; stateBuffer (15360 bytes) is accepted and left untouched.
IBFS32_API int16_t TMFirst(int32_t session, void* stateBuffer);
IBFS32_API int16_t TMNext(int32_t session, void* stateBuffer);

// rom points to 9 elements, 8 used, one ROM byte each in bus order (family code first). With
// element 0 zero, the current device's ROM is read into rom[0..7] (result 1; 0 when there is no
// current device). Otherwise the ROM in rom[0..7] becomes the current device (result 1).
IBFS32_API int16_t TMRom(int32_t session, void* stateBuffer, int16_t* rom);

IBFS32_API int16_t TMAccess(int32_t session, void* stateBuffer);
IBFS32_API int16_t TMTouchByte(int32_t session, int16_t byte);

// Sends count bytes and replaces each with the byte read back in its time slot.
IBFS32_API int16_t TMBlockStream(int32_t session, uint8_t* buffer, int16_t count);

#ifdef __cplusplus
}
#endif
