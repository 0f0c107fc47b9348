// Windows takes file names and messages as UTF-16; the program keeps UTF-8.
#pragma once

#ifdef _WIN32

#include <string>
#include <string_view>

namespace kj {

std::wstring widen(std::string_view utf8);
std::string narrow(std::wstring_view utf16);
// The system's own text for a GetLastError() code, without the trailing line break.
std::string systemErrorText(unsigned long code);

}  // namespace kj

#endif
