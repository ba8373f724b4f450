#pragma once

#include <windows.h>

#include <cstdint>

#include "toolkit/open_file.h"

// What the Windows halves of the file calls share: an OpenFile keeps its handle as a C
// runtime descriptor, so that its members are the same on every system.
namespace mirka {

// Takes over `handle` as a descriptor (-1 when it cannot, and then it is closed).
int AdoptHandle(HANDLE handle);
// The handle behind a descriptor from AdoptHandle.
HANDLE HandleOf(int descriptor);
// Which file a handle is open on, from its volume and file number.
FileIdentity IdentityOfHandle(HANDLE handle, DWORD* attributes = nullptr);

}  // namespace mirka
