// Interoperability with the command-line gzip, lz4 and zstd tools, both ways.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zstd.h>

#include <cstdlib>

#include "KOVACommon.h"
#include "PublicTools.h"
#include "codec_bodies.h"
#include "log_reader.h"
#include "temp_dir.h"

namespace kova::test::codecs {
namespace {

struct CliCodec {
    int ce;
    const char* name;
    const char* decodeCommand;  // reads the file named after it, writes to stdout
};

// Runs `command` through /bin/sh; its exit status (-1 when it could not run).
int RunShell(const std::string& command) {
    const int status = std::system(command.c_str());
    return status == -1 || !WIFEXITED(status) ? -1 : WEXITSTATUS(status);
}

const CliCodec kCliCodecs[] = {
    {KOVA::COMMON::E_GZIP, "gzip", "gzip -dc"},
    {KOVA::COMMON::E_LZ4, "lz4", "lz4 -dc"},
    {KOVA::COMMON::E_ZSTD, "zstd", "zstd -qdc"},
};

class CliInterop : public ::testing::TestWithParam<CliCodec> {
protected:
    fixtures::TempDir dir_{"kova-codec"};
};

TEST_P(CliInterop, ToolDecodesOurBodies) {
    const CliCodec& codec = GetParam();
    for (size_t size : BoundarySizes()) {
        for (const std::string& body : {RandomBody(size, 5), CompressibleBody(size)}) {
            SCOPED_TRACE(std::string(codec.name) + " size " + std::to_string(size));
            std::string encoded;
            ASSERT_TRUE(TQPublicTool::EncodeContent(codec.ce, body, encoded));
            dir_.write("ours", encoded);
            ASSERT_EQ(0, RunShell(std::string(codec.decodeCommand) + " " + dir_.file("ours") + " > " +
                                  dir_.file("plain") + " 2>/dev/null"));
            EXPECT_TRUE(fixtures::readFile(dir_.file("plain")) == body);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, CliInterop, ::testing::ValuesIn(kCliCodecs),
                         [](const ::testing::TestParamInfo<CliCodec>& info) { return info.param.name; });

class ToolOutput : public ::testing::Test {
protected:
    // Writes `body`, runs `command` with {in} and {out} replaced by file paths, and
    // returns what the tool wrote.
    std::string Encode(const std::string& body, std::string command) {
        dir_.write("plain", body);
        for (auto [key, value] :
             {std::pair<std::string, std::string>{"{in}", dir_.file("plain")}, {"{out}", dir_.file("packed")}}) {
            for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
        }
        EXPECT_EQ(0, RunShell(command + " 2>/dev/null")) << command;
        return fixtures::readFile(dir_.file("packed"));
    }

    void ExpectDecodes(int ce, const std::string& command) {
        for (const std::string& body :
             {CompressibleBody(1 << 20), RandomBody(1 << 20, 9), CompressibleBody(16385), std::string()}) {
            SCOPED_TRACE(command + " size " + std::to_string(body.size()));
            std::string packed = Encode(body, command), decoded;
            ASSERT_TRUE(TQPublicTool::DecodeContent(ce, packed, decoded));
            EXPECT_TRUE(decoded == body);
        }
    }

    fixtures::TempDir dir_{"kova-codec"};
};

TEST_F(ToolOutput, GzipWithNameAndTimeAndFromAPipe) {
    ExpectDecodes(KOVA::COMMON::E_GZIP, "gzip -c {in} > {out}");
    ExpectDecodes(KOVA::COMMON::E_GZIP, "cat {in} | gzip -9 > {out}");
}

TEST_F(ToolOutput, Lz4DefaultAndWithContentSizeAndChecksums) {
    ExpectDecodes(KOVA::COMMON::E_LZ4, "lz4 -q -c {in} > {out}");
    ExpectDecodes(KOVA::COMMON::E_LZ4, "lz4 -q -c -B4 -BD -BX --content-size {in} > {out}");
    ExpectDecodes(KOVA::COMMON::E_LZ4, "cat {in} | lz4 -q -c -B6 --no-frame-crc > {out}");
}

// A pipe leaves zstd without the size, so the frame header declares none.
TEST_F(ToolOutput, ZstdFromAFileAndFromAPipe) {
    ExpectDecodes(KOVA::COMMON::E_ZSTD, "zstd -q -c {in} > {out}");
    ExpectDecodes(KOVA::COMMON::E_ZSTD, "cat {in} | zstd -q -c > {out}");
    ExpectDecodes(KOVA::COMMON::E_ZSTD, "cat {in} | zstd -q -19 --long=24 -c > {out}");
}

TEST_F(ToolOutput, ZstdPipedFrameReallyHasNoContentSize) {
    std::string packed = Encode("x\n", "echo x | zstd -q -c > {out}"), decoded;
    ASSERT_EQ(ZSTD_CONTENTSIZE_UNKNOWN, ZSTD_getFrameContentSize(packed.data(), packed.size()));
    ASSERT_TRUE(TQPublicTool::DecodeContentZSTD(packed, decoded));
    EXPECT_EQ("x\n", decoded);
}

}  // namespace
}  // namespace kova::test::codecs
