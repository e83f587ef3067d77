#pragma once

// A stand-in for the TMEX 1-Wire library, for testing the binding without an adapter. It exports
// the ten TMEX functions the binding looks up, plays a scripted bus of devices (DS1993 memory keys
// answer their scratchpad and memory commands), and records every call with the bytes it was given.
// Tests reach the control functions below through dlsym on the handle the binding also loads.
// Any function may be called from any thread: the binding calls from the card poller's thread
// while the test scripts the bus from its own.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Back to an empty bus, no default port, setup ready at once, and an empty record.
void FakeTmex_Reset(void);
// What TMReadDefaultPort answers.
void FakeTmex_SetDefaultPort(int16_t portNum, int16_t portType);
// The handle the next TMExtendedStartSession returns; each later start returns one more.
void FakeTmex_SetNextSessionHandle(int32_t handle);
// TMSetup answers `notReadyResult` for its first `notReadyCalls` calls, then `readyResult`.
void FakeTmex_ScriptSetup(int notReadyCalls, int16_t notReadyResult, int16_t readyResult);
// 0: the adapter stops answering: every open session is broken for good (TMSetup, TMFirst and
// TMNext answer a negative error) and no new session starts. 1: new sessions start again.
void FakeTmex_SetAdapterAnswering(int answering);
// Puts a device on the bus, after those already there, and returns its index. Family 06 devices
// carry 512 bytes of zero-filled memory.
int FakeTmex_AddDevice(const uint8_t rom[8]);
// 1: every TMFirst from now on waits, as a call into a hanging adapter does, until 0 lets it (and
// every one waiting) go on. A reset does not end the hold.
void FakeTmex_HoldSearch(int hold);
// How many TMFirst calls are waiting in a hold right now.
int FakeTmex_SearchesHeld(void);
// Lifts every device off the bus; their memory stays readable through FakeTmex_GetMemory.
void FakeTmex_ClearBus(void);
// Lifts every device off the bus once this many more TMAccess calls have been answered.
void FakeTmex_ClearBusAfterAccesses(int accesses);
void FakeTmex_SetMemory(int device, int address, const uint8_t* bytes, int count);
void FakeTmex_GetMemory(int device, int address, uint8_t* bytes, int count);

// The record: one line per call, e.g. "TMTouchByte 0F", "TMBlockStream AA FF FF FF" (the bytes as
// they were handed in), "TMRom 06 01 02 03 04 05 06 0E" (the array as handed in).
int FakeTmex_CallCount(void);
const char* FakeTmex_CallText(int index);
// The session handle a call was given, 0 for the two calls that take none.
int32_t FakeTmex_CallSession(int index);
// The state buffer a call was given, null for the calls that take none.
const void* FakeTmex_CallStateBuffer(int index);
void FakeTmex_ClearCalls(void);

#ifdef __cplusplus
}
#endif
