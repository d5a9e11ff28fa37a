// The toolkit's MD5 against OpenSSL's on 1 MiB, and its GB2312 table conversions
// against iconv on a text of every hanzi; each pair prints ours/bare.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CMD5.h"
#include "GbConvert.h"
#include "pair_ratio.h"

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "toolkit bench: %s\n", what);
        std::exit(1);
    }
}

std::string& megabyte() {
    static std::string data = [] {
        std::string bytes(1 << 20, '\0');
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
        return bytes;
    }();
    return data;
}

std::string opensslMd5(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}

std::string ourMd5(std::string& data) {
    CMD5 md5;
    md5.GenerateMD5(reinterpret_cast<unsigned char*>(&data[0]), data.size());
    return std::string(reinterpret_cast<char*>(md5.m_data), sizeof md5.m_data);
}

// Every hanzi of the table, in table order, and its UCS-2 form.
struct GbText {
    std::string gb;
    std::string units;
};

GbText& gbText() {
    static GbText text = [] {
        GbText t;
        for (int k = 0; k < kGbTableEntries; ++k) {
            char pair[2] = {static_cast<char>(0xB0 + k / 94), static_cast<char>(0xA1 + k % 94)}, unit[2];
            if (char_gb2unicode(pair, unit) == 0) {
                t.gb.append(pair, 2);
                t.units.append(unit, 2);
            }
        }
        return t;
    }();
    return text;
}

size_t iconvInto(iconv_t cd, const std::string& in, std::vector<char>& out) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inPtr = const_cast<char*>(in.data());
    char* outPtr = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    require(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<size_t>(-1), "iconv failed");
    return out.size() - outLeft;
}

void registerPairs() {
    require(opensslMd5(megabyte()) == ourMd5(megabyte()), "MD5 digests differ");
    const int64_t mebibyte = static_cast<int64_t>(megabyte().size());
    benchmark::RegisterBenchmark("Bare/md5_1MiB", [mebibyte](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(opensslMd5(megabyte()));
        st.SetBytesProcessed(st.iterations() * mebibyte);
    });
    benchmark::RegisterBenchmark("Toolkit/md5_1MiB", [mebibyte](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(ourMd5(megabyte()));
        st.SetBytesProcessed(st.iterations() * mebibyte);
    });

    static iconv_t toUnits = iconv_open("UCS-2BE", "GB2312");
    static iconv_t toGb = iconv_open("GB2312", "UCS-2BE");
    require(toUnits != reinterpret_cast<iconv_t>(-1) && toGb != reinterpret_cast<iconv_t>(-1), "iconv_open failed");
    static GbText& text = gbText();
    static std::vector<char> out(2 * text.gb.size() + 2);
    int length = 0;
    gb2unicode(&text.gb[0], out.data(), &length);
    require(std::string(out.data(), length) == text.units && iconvInto(toUnits, text.gb, out) == text.units.size(),
            "GB2312 to UCS-2 differs");
    const int64_t bytes = static_cast<int64_t>(text.gb.size());
    benchmark::RegisterBenchmark("Bare/gb2unicode", [bytes](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(iconvInto(toUnits, text.gb, out));
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark("Toolkit/gb2unicode", [bytes](benchmark::State& st) {
        for (auto _ : st) {
            int written = 0;
            gb2unicode(&text.gb[0], out.data(), &written);
            benchmark::DoNotOptimize(written);
        }
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark("Bare/unicode2gb", [bytes](benchmark::State& st) {
        for (auto _ : st) benchmark::DoNotOptimize(iconvInto(toGb, text.units, out));
        st.SetBytesProcessed(st.iterations() * bytes);
    });
    benchmark::RegisterBenchmark("Toolkit/unicode2gb", [bytes](benchmark::State& st) {
        for (auto _ : st) {
            unicode2gb(&text.units[0], out.data(), static_cast<int>(text.units.size()));
            benchmark::DoNotOptimize(out.data());
        }
        st.SetBytesProcessed(st.iterations() * bytes);
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::string table = KOVA_GB2312_TABLE;
    require(Unicode_Lib_Init(&table[0]) == 0, "cannot load the GB2312 table");
    return kova::test::bench::runPairs(argc, argv, {"Toolkit", 1.50, false, 12}, registerPairs);
}
