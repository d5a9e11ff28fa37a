// Shared helpers of the codec tests: test bodies, a temporary directory, files, the
// command-line tools and the log file the codecs write to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace codec_test {

// Bytes that do not compress (fixed seed, so failures reproduce).
std::string RandomBody(size_t size, unsigned seed = 1);
// Text-like bytes that compress well but not trivially.
std::string CompressibleBody(size_t size, unsigned seed = 7);

// The sizes every codec must round-trip: empty, exactly one LZ4 input slice, one
// byte more, and a body spanning several LZ4 blocks.
const std::vector<size_t>& BoundarySizes();

// A fresh directory under the system temp directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
// Runs `command` through /bin/sh; its exit status (-1 when it could not run).
int RunShell(const std::string& command);

// Points the process logger at a temp directory (once per process) and returns the
// log file's path, so tests can read the lines the codecs logged.
const std::string& CodecLogFile();
// Number of occurrences of `text` in the log file.
int CountInLog(const std::string& text);

}  // namespace codec_test
