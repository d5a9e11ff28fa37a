// Keeps docs/configuration.md and the code in step: every key the product code reads
// (a property lookup, a property it writes, an environment variable, an "Ice." key it
// forces) has a row in one of the doc's key tables, and every row names a key the code
// still reads, key for key: no row may stand in for another. The keys of a call are
// rebuilt from its first argument: string literals are kept, names are followed to
// their definition in scope in the same file (or a #define), both arms of a ?: count,
// and the names of run-time ids become the doc's placeholders (kStandsFor).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kova::test::adapter {
namespace {

namespace fs = std::filesystem;

const std::string kAny = "{}";

std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool isWord(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool isName(const std::string& s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    for (char c : s) {
        if (!isWord(c)) return false;
    }
    return true;
}

// Index of the quote that closes the literal opened at `open`.
size_t literalEnd(const std::string& s, size_t open) {
    size_t end = open + 1;
    while (end < s.size() && s[end] != s[open]) end += s[end] == '\\' ? 2 : 1;
    return end;
}

size_t skipSpace(const std::string& s, size_t pos) {
    while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
    return pos;
}

std::string trim(const std::string& s) {
    const size_t begin = skipSpace(s, 0);
    size_t end = s.size();
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1]))) --end;
    return s.substr(begin, end - begin);
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
            const size_t end = literalEnd(text, i);
            out += text[i] == '"' ? text.substr(i, end - i + 1) : std::string("' '");
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Splits an expression at the '+' signs outside parentheses and string literals.
std::vector<std::string> terms(const std::string& expr) {
    std::vector<std::string> parts(1);
    int depth = 0;
    for (size_t i = 0; i < expr.size(); ++i) {
        const char c = expr[i];
        if (c == '"') {
            const size_t end = literalEnd(expr, i);
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

// Where each name is defined in a file (the index of the name there) and as what.
using Definitions = std::map<std::string, std::vector<std::pair<size_t, std::string>>>;

// What the names that stand for ids at run time stand for in the doc's placeholders.
// A key built from any other unknown name fails the test until it is named here.
const std::map<std::string, std::vector<std::string>> kStandsFor = {
    {"item", {"{item}"}},
    {"rid", {"{rid}"}},
    // An engine's agent: a listed resource, or the default agent.
    {"_agentID", {"{rid}", "{item}Server.Proxy"}},
    // ReadRouterLogin's id: the listener's adapter id or an engine's agent id.
    {"id", {"{item}", "{rid}", "{item}Server.Proxy"}},
    // SizeThreadPool's pool.
    {"pool", {"Ice.ThreadPool.Client", "Ice.ThreadPool.Server"}},
};

// Index of `c` in `expr` outside string literals, parentheses and "::", from `from`.
size_t findOutside(const std::string& expr, char c, size_t from) {
    int depth = 0;
    for (size_t i = from; i < expr.size(); ++i) {
        if (expr[i] == '"') i = literalEnd(expr, i);
        else if (expr.compare(i, 2, "::") == 0) ++i;
        else if (expr[i] == c && depth == 0) return i;
        else depth += expr[i] == '(' ? 1 : expr[i] == ')' ? -1 : 0;
    }
    return std::string::npos;
}

// Every key `expr` may name, each unknown part a wildcard. A name is followed to its
// definition in scope at `at`: the last one before it, else a member initialised later.
std::set<std::string> keysOf(const std::string& expr, size_t at, const Definitions& local, const Definitions& global,
                             int depth = 0) {
    const size_t ask = findOutside(expr, '?', 0), orElse = findOutside(expr, ':', ask + 1);
    if (ask != std::string::npos && orElse != std::string::npos) {
        std::set<std::string> keys = keysOf(expr.substr(ask + 1, orElse - ask - 1), at, local, global, depth);
        keys.merge(keysOf(expr.substr(orElse + 1), at, local, global, depth));
        return keys;
    }
    std::set<std::string> keys = {""};
    for (const std::string& term : terms(expr)) {
        std::set<std::string> parts = {kAny};
        const Definitions& defs = local.count(term) ? local : global;
        const auto def = defs.find(term);
        const std::string wrapped = "std::string(";
        if (term.size() >= 2 && term[0] == '"' && literalEnd(term, 0) == term.size() - 1) {
            parts = {term.substr(1, term.size() - 2)};
        } else if (term.rfind(wrapped, 0) == 0 && term.back() == ')') {
            parts = keysOf(term.substr(wrapped.size(), term.size() - wrapped.size() - 1), at, local, global, depth);
        } else if (kStandsFor.count(term)) {
            parts = {kStandsFor.at(term).begin(), kStandsFor.at(term).end()};
        } else if (isName(term) && depth < 4 && def != defs.end()) {
            auto inScope = def->second.begin();
            for (auto d = def->second.begin(); d != def->second.end() && d->first < at; ++d) inScope = d;
            parts = keysOf(inScope->second, inScope->first, local, global, depth + 1);
        }
        std::set<std::string> longer;
        for (const std::string& key : keys) {
            for (const std::string& part : parts) longer.insert(key + part);
        }
        keys.swap(longer);
    }
    return keys;
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
            std::istringstream lines(files.back().second);
            for (std::string line; std::getline(lines, line);) {
                std::istringstream words(line);
                std::string directive, name, value;
                if (words >> directive >> name >> value && directive == "#define" && value[0] == '"') {
                    macros[name].emplace_back(0, value);
                }
            }
        }
    }
    const std::set<std::string> keyCalls = {
        "getProperty",       "getPropertyWithDefault",       "getPropertyAsInt", "getPropertyAsIntWithDefault",
        "getPropertyAsList", "getPropertyAsListWithDefault", "setProperty",      "getenv",
        "propertyToProxy"};
    ProductKeys keys;
    for (const auto& [path, code] : files) {
        Definitions local;
        std::vector<std::pair<std::string, size_t>> calls;  // name, index after its '('
        for (size_t i = 0; i < code.size();) {
            if (code[i] == '"') {
                const size_t end = literalEnd(code, i);
                const std::string text = code.substr(i + 1, end - i - 1);
                const size_t ice = text.rfind("--", 0) == 0 ? 2 : 0;
                if (text.compare(ice, 4, "Ice.") == 0) {
                    size_t stop = ice;
                    while (stop < text.size() && (isWord(text[stop]) || text[stop] == '.')) ++stop;
                    keys.iceLiterals.insert(text.substr(ice, stop - ice));
                }
                i = end + 1;
                continue;
            }
            if (!isWord(code[i])) {
                ++i;
                continue;
            }
            size_t end = i;
            while (end < code.size() && isWord(code[end])) ++end;
            const std::string name = code.substr(i, end - i);
            size_t next = skipSpace(code, end);
            if (keyCalls.count(name) && code[next] == '(') {
                calls.emplace_back(name, next + 1);
            } else if (name[0] == '_' && code[end] == '(') {  // a member initialiser
                const size_t close = code.find(')', end);
                const std::string inside = code.substr(end + 1, close - end - 1);
                if (inside.find('(') == std::string::npos) local[name].emplace_back(i, trim(inside));
            } else if (isName(name)) {
                if (code.compare(next, 2, "[]") == 0) next = skipSpace(code, next + 2);
                if (code[next] == '=' && code[next + 1] != '=') {
                    const std::string value = code.substr(next + 1, code.find(';', next) - next - 1);
                    if (value.find_first_of("{}") == std::string::npos) local[name].emplace_back(i, trim(value));
                }
            }
            i = end;
        }
        for (const auto& [name, open] : calls) {
            std::string argument;
            int depth = 0;
            for (size_t pos = open; depth > 0 || (code[pos] != ',' && code[pos] != ')'); ++pos) {
                depth += code[pos] == '(' ? 1 : code[pos] == ')' ? -1 : 0;
                argument += code[pos];
            }
            for (const std::string& key : keysOf(argument, open, local, macros)) {
                keys.read[key] = path.filename().string() + ": " + name + "(" + argument;
            }
        }
    }
    keys.read.erase(kAny);  // a key built entirely at run time names nothing to look for
    return keys;
}

// The first cell of every row of the doc's tables headed "| Key |".
std::vector<std::string> documentedKeys() {
    std::istringstream doc(readText(fs::path(KOVA_SOURCE_DIR) / "docs" / "configuration.md"));
    std::vector<std::string> keys;
    bool inKeyTable = false;
    for (std::string line; std::getline(doc, line);) {
        if (line.rfind("| Key |", 0) == 0) {
            inKeyTable = true;
        } else if (line.empty() || line[0] != '|') {
            inKeyTable = false;
        } else if (inKeyTable && line.rfind("| `", 0) == 0) {
            keys.push_back(line.substr(3, line.find('`', 3) - 3));
        }
    }
    return keys;
}

TEST(ConfigurationDoc, ListsEveryKeyTheCodeReads) {
    const ProductKeys product = scanProduct();
    const std::vector<std::string> doc = documentedKeys();
    ASSERT_GT(product.read.size(), 20u) << "the scan no longer finds the code's key lookups";
    for (const auto& [key, where] : product.read) {
        EXPECT_EQ(key.find(kAny), std::string::npos)
            << "say in kStandsFor what `" << key << "' stands for (" << where << ")";
        EXPECT_NE(std::find(doc.begin(), doc.end(), key), doc.end())
            << "no row of docs/configuration.md for `" << key << "' (" << where << ")";
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
        EXPECT_TRUE(product.read.count(row) || product.iceLiterals.count(row))
            << "docs/configuration.md lists `" << row << "', which the code no longer reads";
    }
}

}  // namespace
}  // namespace kova::test::adapter
