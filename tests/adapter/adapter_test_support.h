// Shared helpers of the adapter tests: temporary directories, configuration items
// and reading back log files. Not thread-safe; used from the test thread only.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kova_adapter_test {

// A fresh directory under the system temp dir, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string templ = (std::filesystem::temp_directory_path() / "kova-adapter-XXXXXX").string();
        if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        _path = templ;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }

    void write(const std::string& name, const std::string& text) const {
        std::ofstream out(file(name));
        out << text;
    }

private:
    std::string _path;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every ".log" file under `dir` (recursively), concatenated.
inline std::string ReadLogs(const std::string& dir) {
    std::string all;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file() && it->path().extension() == ".log") all += ReadFile(it->path().string());
    }
    return all;
}

inline size_t CountOccurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + needle.size())) ++n;
    return n;
}

// Addresses used only as configuration text: nothing ever connects to them.
const char kAgentX[] = "agent:tcp -h 127.0.0.1 -p 10001";
const char kAgentY[] = "other:tcp -h 127.0.0.1 -p 10011";
const char kLocatorL[] = "TGrid/Locator:tcp -h 127.0.0.1 -p 10002";
const char kLocatorL2[] = "TGrid2/Locator:tcp -h 127.0.0.1 -p 10012";
const char kRouterG[] = "TG2/router:tcp -h 127.0.0.1 -p 10003";

}  // namespace kova_adapter_test
