#pragma once
// The system's own text for an error code: FormatMessageW of a Win32 error on Windows,
// strerror of an errno value natively.
#include <cstdint>
#include <string>

namespace tovik {

std::wstring SystemErrorText(std::uint32_t code);

}  // namespace tovik
