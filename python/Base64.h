// Standard Base64 (RFC 4648 alphabet with "+" and "/", "=" padding to a multiple of
// four characters, no line breaks) for message bodies in the harness's JSON results:
// bodies are arbitrary bytes, JSON strings are text.
// Thread safety: a pure function.
#pragma once

#include <string>

namespace kova::harness {

std::string encodeBase64(const std::string& bytes);

}  // namespace kova::harness
