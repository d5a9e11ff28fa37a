// Test helpers for looking at what the logger made: directory listings and
// whole-line matches (reading files back is in tests/support, log_reader.h).
// Thread-safety: stateless free functions.
#pragma once

#include <algorithm>
#include <filesystem>
#include <regex.h>
#include <string>
#include <vector>

namespace kova::test::logging {

// Names of the entries of `dir`, sorted; empty when it does not exist.
inline std::vector<std::string> ListDir(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Whole-text match of a POSIX extended regular expression; `groups` gets the whole
// text at 0 and group n at n. False also for a pattern that does not compile.
inline bool FullMatch(const std::string& text, const std::string& pattern, std::vector<std::string>* groups = nullptr) {
    regex_t re;
    if (regcomp(&re, ("^(" + pattern + ")$").c_str(), REG_EXTENDED) != 0) return false;
    std::vector<regmatch_t> found(re.re_nsub + 1);
    const bool matched = regexec(&re, text.c_str(), found.size(), found.data(), 0) == 0;
    if (matched && groups != nullptr) {
        groups->clear();
        for (size_t i = 0; i < found.size(); ++i) {
            if (i == 1) continue;  // the wrapper group
            const auto& m = found[i];
            groups->push_back(m.rm_so < 0 ? std::string() : text.substr(m.rm_so, m.rm_eo - m.rm_so));
        }
    }
    regfree(&re);
    return matched;
}

inline bool PathExists(const std::string& path) { return std::filesystem::exists(path); }

}  // namespace kova::test::logging
