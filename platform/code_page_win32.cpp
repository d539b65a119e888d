// SPDX-License-Identifier: MIT
#include <windows.h>

#include <climits>

#include "platform/code_page.h"

namespace ck::platform {
namespace {

constexpr UINT kCp936 = 936;
// Windows gives the private use area the user-defined byte ranges of code page 936 (and
// U+F8F5 the byte 0xFF); they are no GBK characters, and iconv refuses them.
constexpr wchar_t kPrivateUseFirst = 0xE000;
constexpr wchar_t kPrivateUseLast = 0xF8FF;

}  // namespace

std::optional<std::string> Utf8ToCp936(std::string_view utf8) {
    if (utf8.empty()) return std::string();  // the functions take no empty input
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
    const int inLen = static_cast<int>(utf8.size());
    const int wideLen =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, nullptr, 0);
    if (wideLen <= 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(wideLen), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), inLen, wide.data(),
                            wideLen) != wideLen) {
        return std::nullopt;
    }
    for (const wchar_t c : wide) {
        if (c >= kPrivateUseFirst && c <= kPrivateUseLast) return std::nullopt;
    }
    // No best fit (no "a" for "ä"), and a character without a form of its own is reported
    // through usedDefault instead of being written as "?".
    BOOL usedDefault = FALSE;
    const int outLen = WideCharToMultiByte(kCp936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen,
                                           nullptr, 0, nullptr, &usedDefault);
    if (outLen <= 0 || usedDefault) return std::nullopt;
    std::string out(static_cast<std::size_t>(outLen), '\0');
    if (WideCharToMultiByte(kCp936, WC_NO_BEST_FIT_CHARS, wide.data(), wideLen, out.data(), outLen,
                            nullptr, &usedDefault) != outLen ||
        usedDefault) {
        return std::nullopt;
    }
    return out;
}

}  // namespace ck::platform
