// Ends the process with one line on standard error and exit status 1, for failures the
// programs cannot carry on from (a host or device allocation that failed, say).
#pragma once

[[noreturn]] void fatalError(const char* message);

// Host heap, zero-filled; fatalError if it cannot be had. `what` names it in the message.
void* allocateZeroed(unsigned long bytes, const char* what);
// Device memory; fatalError with the runtime's description if it cannot be had.
void* allocateDevice(unsigned long bytes, const char* what);
