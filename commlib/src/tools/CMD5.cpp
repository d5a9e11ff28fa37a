// MD5 as RFC 1321 describes it: little-endian words, 64-byte blocks, the standard
// constants, padding and a 64-bit length in bits.
#include "CMD5.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

const unsigned char md5_padding[64] = {0x80};

inline uint32_t loadLittleEndian(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline void storeLittleEndian(uint32_t value, unsigned char* p) {
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

inline uint32_t rotateLeft(uint32_t x, int n) { return x << n | x >> (32 - n); }

// The value of a hex digit, or -1.
int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The byte that a pair of characters names: an optional "0X", then hex digits up to the
// first other character (none gives 0).
unsigned char _httoi(const char* pair) {
    size_t i = pair[0] == '0' && pair[1] == 'X' ? 2 : 0;
    unsigned value = 0;
    for (; i < 2 && hexDigit(pair[i]) >= 0; ++i) value = value * 16 + hexDigit(pair[i]);
    return static_cast<unsigned char>(value);
}

uint64_t byteCount(const CMD5::md5_context& ctx) { return static_cast<uint64_t>(ctx.total[1]) << 32 | ctx.total[0]; }

}  // namespace

CMD5::CMD5() { memset(m_data, 0, sizeof m_data); }

CMD5::CMD5(unsigned int* data) { memcpy(m_data, data, sizeof m_data); }

CMD5::CMD5(const char* hexText) {
    unsigned char bytes[16] = {0};
    const size_t length = hexText ? strnlen(hexText, 2 * sizeof bytes) : 0;
    for (size_t k = 0; 2 * k < length; ++k) bytes[k] = _httoi(hexText + 2 * k);
    memcpy(m_data, bytes, sizeof m_data);
}

void CMD5::md5_starts(md5_context* ctx) {
    ctx->total[0] = ctx->total[1] = 0;
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
}

#define MD5_STEP(f, a, b, c, d, x, s, t) \
    a += f(b, c, d) + (x) + (t);         \
    a = rotateLeft(a, s) + (b)
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void CMD5::md5_process(md5_context* ctx, unsigned char* data) {
    uint32_t X[16];
    for (int i = 0; i < 16; ++i) X[i] = loadLittleEndian(data + 4 * i);
    uint32_t A = ctx->state[0], B = ctx->state[1], C = ctx->state[2], D = ctx->state[3];

    MD5_STEP(MD5_F, A, B, C, D, X[0], 7, 0xD76AA478);
    MD5_STEP(MD5_F, D, A, B, C, X[1], 12, 0xE8C7B756);
    MD5_STEP(MD5_F, C, D, A, B, X[2], 17, 0x242070DB);
    MD5_STEP(MD5_F, B, C, D, A, X[3], 22, 0xC1BDCEEE);
    MD5_STEP(MD5_F, A, B, C, D, X[4], 7, 0xF57C0FAF);
    MD5_STEP(MD5_F, D, A, B, C, X[5], 12, 0x4787C62A);
    MD5_STEP(MD5_F, C, D, A, B, X[6], 17, 0xA8304613);
    MD5_STEP(MD5_F, B, C, D, A, X[7], 22, 0xFD469501);
    MD5_STEP(MD5_F, A, B, C, D, X[8], 7, 0x698098D8);
    MD5_STEP(MD5_F, D, A, B, C, X[9], 12, 0x8B44F7AF);
    MD5_STEP(MD5_F, C, D, A, B, X[10], 17, 0xFFFF5BB1);
    MD5_STEP(MD5_F, B, C, D, A, X[11], 22, 0x895CD7BE);
    MD5_STEP(MD5_F, A, B, C, D, X[12], 7, 0x6B901122);
    MD5_STEP(MD5_F, D, A, B, C, X[13], 12, 0xFD987193);
    MD5_STEP(MD5_F, C, D, A, B, X[14], 17, 0xA679438E);
    MD5_STEP(MD5_F, B, C, D, A, X[15], 22, 0x49B40821);

    MD5_STEP(MD5_G, A, B, C, D, X[1], 5, 0xF61E2562);
    MD5_STEP(MD5_G, D, A, B, C, X[6], 9, 0xC040B340);
    MD5_STEP(MD5_G, C, D, A, B, X[11], 14, 0x265E5A51);
    MD5_STEP(MD5_G, B, C, D, A, X[0], 20, 0xE9B6C7AA);
    MD5_STEP(MD5_G, A, B, C, D, X[5], 5, 0xD62F105D);
    MD5_STEP(MD5_G, D, A, B, C, X[10], 9, 0x02441453);
    MD5_STEP(MD5_G, C, D, A, B, X[15], 14, 0xD8A1E681);
    MD5_STEP(MD5_G, B, C, D, A, X[4], 20, 0xE7D3FBC8);
    MD5_STEP(MD5_G, A, B, C, D, X[9], 5, 0x21E1CDE6);
    MD5_STEP(MD5_G, D, A, B, C, X[14], 9, 0xC33707D6);
    MD5_STEP(MD5_G, C, D, A, B, X[3], 14, 0xF4D50D87);
    MD5_STEP(MD5_G, B, C, D, A, X[8], 20, 0x455A14ED);
    MD5_STEP(MD5_G, A, B, C, D, X[13], 5, 0xA9E3E905);
    MD5_STEP(MD5_G, D, A, B, C, X[2], 9, 0xFCEFA3F8);
    MD5_STEP(MD5_G, C, D, A, B, X[7], 14, 0x676F02D9);
    MD5_STEP(MD5_G, B, C, D, A, X[12], 20, 0x8D2A4C8A);

    MD5_STEP(MD5_H, A, B, C, D, X[5], 4, 0xFFFA3942);
    MD5_STEP(MD5_H, D, A, B, C, X[8], 11, 0x8771F681);
    MD5_STEP(MD5_H, C, D, A, B, X[11], 16, 0x6D9D6122);
    MD5_STEP(MD5_H, B, C, D, A, X[14], 23, 0xFDE5380C);
    MD5_STEP(MD5_H, A, B, C, D, X[1], 4, 0xA4BEEA44);
    MD5_STEP(MD5_H, D, A, B, C, X[4], 11, 0x4BDECFA9);
    MD5_STEP(MD5_H, C, D, A, B, X[7], 16, 0xF6BB4B60);
    MD5_STEP(MD5_H, B, C, D, A, X[10], 23, 0xBEBFBC70);
    MD5_STEP(MD5_H, A, B, C, D, X[13], 4, 0x289B7EC6);
    MD5_STEP(MD5_H, D, A, B, C, X[0], 11, 0xEAA127FA);
    MD5_STEP(MD5_H, C, D, A, B, X[3], 16, 0xD4EF3085);
    MD5_STEP(MD5_H, B, C, D, A, X[6], 23, 0x04881D05);
    MD5_STEP(MD5_H, A, B, C, D, X[9], 4, 0xD9D4D039);
    MD5_STEP(MD5_H, D, A, B, C, X[12], 11, 0xE6DB99E5);
    MD5_STEP(MD5_H, C, D, A, B, X[15], 16, 0x1FA27CF8);
    MD5_STEP(MD5_H, B, C, D, A, X[2], 23, 0xC4AC5665);

    MD5_STEP(MD5_I, A, B, C, D, X[0], 6, 0xF4292244);
    MD5_STEP(MD5_I, D, A, B, C, X[7], 10, 0x432AFF97);
    MD5_STEP(MD5_I, C, D, A, B, X[14], 15, 0xAB9423A7);
    MD5_STEP(MD5_I, B, C, D, A, X[5], 21, 0xFC93A039);
    MD5_STEP(MD5_I, A, B, C, D, X[12], 6, 0x655B59C3);
    MD5_STEP(MD5_I, D, A, B, C, X[3], 10, 0x8F0CCC92);
    MD5_STEP(MD5_I, C, D, A, B, X[10], 15, 0xFFEFF47D);
    MD5_STEP(MD5_I, B, C, D, A, X[1], 21, 0x85845DD1);
    MD5_STEP(MD5_I, A, B, C, D, X[8], 6, 0x6FA87E4F);
    MD5_STEP(MD5_I, D, A, B, C, X[15], 10, 0xFE2CE6E0);
    MD5_STEP(MD5_I, C, D, A, B, X[6], 15, 0xA3014314);
    MD5_STEP(MD5_I, B, C, D, A, X[13], 21, 0x4E0811A1);
    MD5_STEP(MD5_I, A, B, C, D, X[4], 6, 0xF7537E82);
    MD5_STEP(MD5_I, D, A, B, C, X[11], 10, 0xBD3AF235);
    MD5_STEP(MD5_I, C, D, A, B, X[2], 15, 0x2AD7D2BB);
    MD5_STEP(MD5_I, B, C, D, A, X[9], 21, 0xEB86D391);

    ctx->state[0] += A;
    ctx->state[1] += B;
    ctx->state[2] += C;
    ctx->state[3] += D;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

void CMD5::md5_update(md5_context* ctx, unsigned char* input, size_t length) {
    if (length == 0) return;
    const size_t pending = ctx->total[0] & 0x3F;
    // The count is 64-bit: a single update of 4 GiB or more keeps its high part.
    const uint64_t total = byteCount(*ctx) + length;
    ctx->total[0] = static_cast<uint32_t>(total);
    ctx->total[1] = static_cast<uint32_t>(total >> 32);

    size_t done = 0;
    if (pending > 0) {
        const size_t fill = 64 - pending;
        if (length < fill) {
            memcpy(ctx->buffer + pending, input, length);
            return;
        }
        memcpy(ctx->buffer + pending, input, fill);
        md5_process(ctx, ctx->buffer);
        done = fill;
    }
    for (; length - done >= 64; done += 64) md5_process(ctx, input + done);
    if (done < length) memcpy(ctx->buffer, input + done, length - done);
}

void CMD5::md5_finish(md5_context* ctx, unsigned char* digest) {
    const uint64_t bits = byteCount(*ctx) << 3;
    unsigned char lengthBytes[8];
    storeLittleEndian(static_cast<uint32_t>(bits), lengthBytes);
    storeLittleEndian(static_cast<uint32_t>(bits >> 32), lengthBytes + 4);

    const size_t pending = ctx->total[0] & 0x3F;
    const size_t padding = pending < 56 ? 56 - pending : 120 - pending;
    md5_update(ctx, const_cast<unsigned char*>(md5_padding), padding);
    md5_update(ctx, lengthBytes, sizeof lengthBytes);

    for (int i = 0; i < 4; ++i) storeLittleEndian(ctx->state[i], digest + 4 * i);
}

void CMD5::GenerateMD5(unsigned char* buffer, size_t bufferlen) {
    md5_context ctx;
    md5_starts(&ctx);
    md5_update(&ctx, buffer, bufferlen);
    unsigned char digest[16];
    md5_finish(&ctx, digest);
    memcpy(m_data, digest, sizeof m_data);
}

CMD5 CMD5::operator+(CMD5 adder) {
    CMD5 sum;
    for (int i = 0; i < 4; ++i) sum.m_data[i] = m_data[i] ^ adder.m_data[i];
    return sum;
}

bool CMD5::operator==(CMD5 cmper) { return memcmp(m_data, cmper.m_data, sizeof m_data) == 0; }

std::string CMD5::ToString() {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_data);
    char text[33];
    for (int k = 0; k < 16; ++k) snprintf(text + 2 * k, 3, "%02x", bytes[k]);
    return std::string(text, 32);
}
