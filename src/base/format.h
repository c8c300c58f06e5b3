#pragma once
// The one printf-style formatter behind every log line and message, so the compiler
// checks each format string against its arguments.
#include <cstdarg>
#include <string>

#if defined(__MINGW32__)
#define ROMSETTER_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define ROMSETTER_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

namespace romsetter {

std::string Format(const char* format, ...) ROMSETTER_PRINTF(1, 2);
std::string FormatV(const char* format, va_list args) ROMSETTER_PRINTF(1, 0);

}  // namespace romsetter
