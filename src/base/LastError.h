#pragma once
// The calling thread's last-error code. On Windows this is the Win32 last error itself
// (callers may read it with GetLastError); natively it is a thread-local value.
#include <cstdint>

namespace tovik {

void SetLastErrorCode(std::uint32_t code);
std::uint32_t GetLastErrorCode();

}  // namespace tovik
