// Tools: the toolkit's static routines. Every function is reentrant and may be called
// from any thread; the only state kept between calls is one LZ4 block compressor per
// thread (freed when the thread ends).
#pragma once

#include <string>

class Tools {
public:
    // One LZ4 frame (256 KiB linked blocks, no checksums, no content size) appended to
    // strOut. 1 on success, 0 on failure; failures are printed on standard output.
    static int LZ4Compress(std::string& strIn, std::string& strOut);
    // Decodes every LZ4 frame of strIn in order, skipping skippable frames, and appends
    // the result to strOut. 1 on success; 0 when any frame fails, or bytes follow that
    // are not a frame (what was decoded before the failure stays appended).
    static int LZ4Decompress(std::string& strIn, std::string& strOut);

    // The host's first private IPv4 address (10/8, 192.168/16, 172.16/12), skipping
    // interfaces whose name contains "docker". 0 with the address in strLocalIP, -1
    // (strLocalIP untouched) when there is none. el6 is not used.
    static int GetLocalIP(std::string& strLocalIP, bool el6 = false);
};
