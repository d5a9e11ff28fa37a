// Tools: the toolkit's static routines. Stateless; every function is reentrant and
// may be called from any thread.
#pragma once

#include <string>

class Tools {
public:
    // One LZ4 frame (256 KiB linked blocks, no checksums, no content size) appended to
    // strOut. 1 on success, 0 on failure; failures are printed on standard output.
    static int LZ4Compress(std::string& strIn, std::string& strOut);
    // Decodes the first LZ4 frame of strIn and appends it to strOut; bytes after the
    // frame are ignored. 1 on success, 0 on failure (what was decoded stays appended).
    static int LZ4Decompress(std::string& strIn, std::string& strOut);

    // The host's first private IPv4 address (10/8, 192.168/16, 172.16/12), skipping
    // interfaces whose name contains "docker". 0 with the address in strLocalIP, -1
    // (strLocalIP untouched) when there is none. el6 is not used.
    static int GetLocalIP(std::string& strLocalIP, bool el6 = false);
};
