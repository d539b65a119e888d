// SPDX-License-Identifier: MIT
#pragma once
// Text in code page 936 (GBK), the encoding of the saved text files, converted by the
// operating system's own tables: iconv on Linux, the code-page functions on Windows. Both
// refuse a character that has no GBK form rather than write a stand-in for it.

#include <optional>
#include <string>
#include <string_view>

namespace ck::platform {

// UTF-8 to code page 936; nullopt when the text is not UTF-8 or a character has no GBK form.
std::optional<std::string> Utf8ToCp936(std::string_view utf8);

}  // namespace ck::platform
