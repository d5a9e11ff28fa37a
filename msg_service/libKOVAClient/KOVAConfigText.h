// Internal (kova_engine).
// Text helpers of the client configuration: ${NAME} expansion, splitting
// Key=Value items, masking secrets before properties are logged, and
// case-insensitive prefix tests. Stateless and reentrant.
#pragma once

#include <string>
#include <vector>

namespace KOVA {

// Replaces every ${NAME} in `value` by the environment variable NAME (empty when
// unset). Plain text substitution: the rest of the value is copied untouched.
std::string TransConfigWithVar(const std::string& value);

// Splits a list-form item at every "=", keeping empty pieces: "A=" gives {"A", ""},
// "A=B=C" gives three pieces and "A" one. Only two pieces make a valid item, so a
// value can never contain "=".
std::vector<std::string> SplitConfigItem(const std::string& item);

// A "--Key=Value" option as it may be logged: the value of every key ending in
// "Password" is replaced by a fixed mask (an empty value stays empty).
std::string MaskSecretOption(const std::string& option);

// True when `text` starts with `prefix`, ignoring ASCII case; a shorter text never
// matches.
bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix);

}  // namespace KOVA
