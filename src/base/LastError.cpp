#include "base/LastError.h"

#ifdef _WIN32
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long code);
extern "C" __declspec(dllimport) unsigned long __stdcall GetLastError(void);
#endif

namespace tovik {

#ifdef _WIN32
void SetLastErrorCode(std::uint32_t code) { SetLastError(code); }
std::uint32_t GetLastErrorCode() { return static_cast<std::uint32_t>(GetLastError()); }
#else
namespace {
thread_local std::uint32_t t_lastError = 0;
}
void SetLastErrorCode(std::uint32_t code) { t_lastError = code; }
std::uint32_t GetLastErrorCode() { return t_lastError; }
#endif

}  // namespace tovik
