#include "CodecTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

#include "KOVALog.h"

namespace codec_test {

std::string RandomBody(size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string body(size, '\0');
    for (char& c : body) c = static_cast<char>(gen() & 0xff);
    return body;
}

std::string CompressibleBody(size_t size, unsigned seed) {
    static const char* const kWords[] = {"queue", "message", "resource", "commit", "offset",
                                         "agent", "batch", "pull", "push", "produce"};
    std::mt19937 gen(seed);
    std::string body;
    body.reserve(size + 16);
    while (body.size() < size) {
        body += kWords[gen() % 10];
        body += (gen() % 5 == 0) ? std::to_string(gen() % 1000) + "\n" : " ";
    }
    body.resize(size);
    return body;
}

const std::vector<size_t>& BoundarySizes() {
    static const std::vector<size_t> sizes = {0, 16384, 16385, 1 << 20};
    return sizes;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kova-codec-XXXXXX").string();
    if (mkdtemp(&pattern[0]) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int RunShell(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

const std::string& CodecLogFile() {
    static TempDir dir;
    static const std::string file = [] {
        TQPublicTool::KOVALog::getLogInstance(dir.path(), "", "codec");
        return dir.File("codec.log");
    }();
    return file;
}

int CountInLog(const std::string& text) {
    std::ifstream in(CodecLogFile());
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        for (size_t at = line.find(text); at != std::string::npos; at = line.find(text, at + 1)) ++count;
    }
    return count;
}

}  // namespace codec_test
