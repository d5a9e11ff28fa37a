// Internal (kova_log_codecs); callers get decoded bodies from the message classes.
// Public tools of the client: body codecs and local-address discovery.
// Stateless and reentrant; any thread may call them.
#pragma once

#include <string>

namespace TQPublicTool {

// ce: 1 gzip, 2 LZ4 frame, 3 zstd frame (KOVA::COMMON::IEncodingType). Any other value
// gives false and leaves strOut untouched. Codec failures are logged FATAL and give
// false; they never throw.
bool EncodeContent(int ce, const std::string& strIn, std::string& strOut);
bool DecodeContent(int ce, const std::string& strIn, std::string& strOut);

// gzip and zstd replace strOut with the whole result; LZ4 appends to it.
bool EncodeContentGzip(const std::string& strIn, std::string& strOut);
bool DecodeContentGzip(const std::string& strIn, std::string& strOut);
bool EncodeContentLZ4(const std::string& strIn, std::string& strOut);
bool DecodeContentLZ4(const std::string& strIn, std::string& strOut);
bool EncodeContentZSTD(const std::string& strIn, std::string& strOut);
bool DecodeContentZSTD(const std::string& strIn, std::string& strOut);

// The host's first private IPv4 address; see Tools::GetLocalIP.
int GetLocalIP(std::string& strLocalIP, bool el6 = false);

}  // namespace TQPublicTool
