// For callers of the server toolkit (kova_toolkit).
// CMD5: an MD5 digest (RFC 1321) as a 16-byte value that can be built from hex text,
// combined by XOR, compared and printed; its digest routines are public, so a caller may
// also hash incrementally (md5_starts, md5_update as often as needed, md5_finish).
//
// Ownership: a plain value; copies are independent.
// Thread-safety: distinct objects and contexts may be used from any thread at once.
#pragma once

#include <cstddef>
#include <string>

class CMD5 {
public:
    // The running state of one digest.
    struct md5_context {
        unsigned int total[2];     // bytes hashed so far, low word first
        unsigned int state[4];     // chaining words A, B, C, D
        unsigned char buffer[64];  // pending partial block
    };

    CMD5();  // all zeros
    // The 16 bytes at `data`.
    CMD5(unsigned int* data);
    // From hex text: byte k from characters 2k and 2k + 1 (upper or lower case). A
    // null or empty text gives zeros, and so do the bytes a short text does not reach.
    CMD5(const char* hexText);

    void md5_starts(md5_context* ctx);
    void md5_update(md5_context* ctx, unsigned char* input, size_t length);
    void md5_process(md5_context* ctx, unsigned char* data);
    void md5_finish(md5_context* ctx, unsigned char* digest);

    // This value becomes the digest of the buffer.
    void GenerateMD5(unsigned char* buffer, size_t bufferlen);

    CMD5 operator+(CMD5 adder);  // XOR of the two values
    bool operator==(CMD5 cmper);
    // 32 lowercase hex digits, first byte first.
    std::string ToString();

    unsigned int m_data[4];  // the digest bytes in output order
};
