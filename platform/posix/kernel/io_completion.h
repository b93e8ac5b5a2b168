// What an asynchronous call hands its APC routine when it completes, as winternl.h declares it:
// the I/O status block (the NT status of the operation and the bytes it wrote) and the routine's
// signature. The status block lives until the routine returns.
#ifndef TELVARIO_PLATFORM_POSIX_IO_COMPLETION_H
#define TELVARIO_PLATFORM_POSIX_IO_COMPLETION_H

#include "windows_types.h"

using NTSTATUS = LONG;

struct IO_STATUS_BLOCK {
  union {
    NTSTATUS Status;
    PVOID Pointer;
  };
  ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

#define NTAPI
using PIO_APC_ROUTINE = void (*)(PVOID apcContext, PIO_STATUS_BLOCK ioStatusBlock, ULONG reserved);

#endif
