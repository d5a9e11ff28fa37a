// Keeps docs/configuration.md and the code in step: every key the product code reads
// (a property lookup, a property it writes, an environment variable, an "Ice." key it
// forces) has a row in one of the doc's key tables, and every row names a key the code
// still reads. The key of a call is rebuilt from its first argument: string literals
// are kept, names are followed to their one definition in the same file (or a
// #define), and whatever stays unknown (an adapter id, a resource id) is a wildcard.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kova::test::adapter {
namespace {

namespace fs = std::filesystem;

const char kAny[] = "{}";

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Comments dropped and character literals blanked, so that neither can pass for code
// or for the quotes of a string literal.
std::string codeOnly(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "//") == 0) {
            i = text.find('\n', i) - 1;
        } else if (text.compare(i, 2, "/*") == 0) {
            i = text.find("*/", i) + 1;
        } else if (text[i] == '"' || text[i] == '\'') {
            const char quote = text[i];
            size_t end = i + 1;
            while (text[end] != quote) end += text[end] == '\\' ? 2 : 1;
            out += quote == '"' ? text.substr(i, end - i + 1) : std::string("' '");
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

using Definitions = std::map<std::string, std::set<std::string>>;

void collect(const std::string& code, const std::regex& pattern, Definitions& into) {
    for (std::sregex_iterator m(code.begin(), code.end(), pattern), end; m != end; ++m) {
        into[(*m)[1]].insert((*m)[2]);
    }
}

// Splits an expression at the '+' signs outside parentheses and string literals.
std::vector<std::string> terms(const std::string& expr) {
    std::vector<std::string> parts(1);
    int depth = 0;
    for (size_t i = 0; i < expr.size(); ++i) {
        const char c = expr[i];
        if (c == '"') {
            const size_t end = expr.find('"', i + 1);
            parts.back() += expr.substr(i, end - i + 1);
            i = end;
            continue;
        }
        depth += c == '(' ? 1 : c == ')' ? -1 : 0;
        if (c == '+' && depth == 0) parts.emplace_back();
        else if (!std::isspace(static_cast<unsigned char>(c))) parts.back() += c;
    }
    return parts;
}

std::string keyOf(const std::string& expr, const Definitions& local, const Definitions& global, int depth = 0) {
    static const std::regex literal(R"re("([^"\\]*)")re");
    static const std::regex name(R"([A-Za-z_]\w*)");
    std::string key;
    for (const std::string& term : terms(expr)) {
        std::smatch m;
        const Definitions& defs = local.count(term) ? local : global;
        const auto def = defs.find(term);
        std::string part = kAny;
        if (std::regex_match(term, m, literal)) {
            part = m[1];
        } else if (std::regex_match(term, name) && depth < 4 && def != defs.end() && def->second.size() == 1) {
            part = keyOf(*def->second.begin(), local, global, depth + 1);
        }
        if (!(part == kAny && key.size() >= 2 && key.compare(key.size() - 2, 2, kAny) == 0)) key += part;
    }
    return key;
}

struct ProductKeys {
    std::map<std::string, std::string> read;  // key (kAny for unknown parts) -> where
    std::set<std::string> iceLiterals;        // "Ice." string literals (forced settings, pool names), up to any "="
};

ProductKeys scanProduct() {
    std::vector<std::pair<fs::path, std::string>> files;
    Definitions macros;
    for (const char* dir : {"msg_service", "public"}) {
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(KOVA_SOURCE_DIR) / dir)) {
            const std::string ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h") continue;
            files.emplace_back(entry.path(), codeOnly(readText(entry.path())));
            collect(files.back().second, std::regex(R"(#define\s+(\w+)\s+("[^"]*"))"), macros);
        }
    }
    const std::regex assignment(R"(\b([A-Za-z_]\w*)(?:\[\])?\s*=(?!=)\s*([^;{}]+);)");
    const std::regex memberInit(R"(\b(_\w+)\(([^()]+)\))");
    const std::regex call(R"(\b(?:getProperty\w*|setProperty|getenv|propertyToProxy)\s*\()");
    const std::regex iceLiteral(R"re("(?:--)?(Ice\.[\w.]+))re");
    ProductKeys keys;
    for (const auto& [path, code] : files) {
        Definitions local;
        collect(code, assignment, local);
        collect(code, memberInit, local);
        for (std::sregex_iterator m(code.begin(), code.end(), call), end; m != end; ++m) {
            size_t pos = m->position() + m->length();
            std::string argument;
            for (int depth = 0; depth > 0 || (code[pos] != ',' && code[pos] != ')'); ++pos) {
                depth += code[pos] == '(' ? 1 : code[pos] == ')' ? -1 : 0;
                argument += code[pos];
            }
            keys.read[keyOf(argument, local, macros)] = path.filename().string() + ": " + m->str() + argument;
        }
        for (std::sregex_iterator m(code.begin(), code.end(), iceLiteral), end; m != end; ++m) {
            keys.iceLiterals.insert((*m)[1]);
        }
    }
    keys.read.erase(kAny);  // a key built entirely at run time names nothing to look for
    return keys;
}

// The first cell of every row of the doc's tables headed "| Key |".
std::vector<std::string> documentedKeys() {
    std::istringstream doc(readText(fs::path(KOVA_SOURCE_DIR) / "docs" / "configuration.md"));
    const std::regex row(R"(^\| `([^`]+)` \|)");
    std::vector<std::string> keys;
    bool inKeyTable = false;
    for (std::string line; std::getline(doc, line);) {
        std::smatch m;
        if (line.rfind("| Key |", 0) == 0) inKeyTable = true;
        else if (line.empty() || line[0] != '|') inKeyTable = false;
        else if (inKeyTable && std::regex_search(line, m, row)) keys.push_back(m[1]);
    }
    return keys;
}

// A key read by the code, its unknown parts standing for anything, matches a row
// whose placeholders ({item}, {rid}) sit where the code's unknown parts are.
bool matches(const std::string& codeKey, const std::string& docKey) {
    std::string pattern;
    for (size_t i = 0; i < codeKey.size(); ++i) {
        if (codeKey.compare(i, 2, kAny) == 0) {
            pattern += ".*";
            ++i;
        } else {
            pattern += std::string(std::strchr(".^$|()[]{}*+?\\", codeKey[i]) ? "\\" : "") + codeKey[i];
        }
    }
    return std::regex_match(docKey, std::regex(pattern));
}

TEST(ConfigurationDoc, ListsEveryKeyTheCodeReads) {
    const ProductKeys product = scanProduct();
    const std::vector<std::string> doc = documentedKeys();
    ASSERT_GT(product.read.size(), 20u) << "the scan no longer finds the code's key lookups";
    for (const auto& [key, where] : product.read) {
        bool found = false;
        for (const std::string& row : doc) found = found || matches(key, row);
        EXPECT_TRUE(found) << "no row of docs/configuration.md for `" << key << "' (" << where << ")";
    }
    for (const std::string& ice : product.iceLiterals) {
        bool found = false;
        for (const std::string& row : doc) found = found || row.rfind(ice, 0) == 0;
        EXPECT_TRUE(found) << "no row of docs/configuration.md for `" << ice << "'";
    }
}

TEST(ConfigurationDoc, ListsOnlyKeysTheCodeReads) {
    const ProductKeys product = scanProduct();
    for (const std::string& row : documentedKeys()) {
        if (std::regex_match(row, std::regex(R"(\{\w+\})"))) continue;  // a bare resource id
        bool found = false;
        for (const auto& entry : product.read) found = found || matches(entry.first, row);
        for (const std::string& ice : product.iceLiterals) found = found || row.rfind(ice, 0) == 0;
        EXPECT_TRUE(found) << "docs/configuration.md lists `" << row << "', which the code no longer reads";
    }
}

}  // namespace
}  // namespace kova::test::adapter
