#include "KOVAConfigText.h"

#include <cctype>
#include <cstdlib>
#include <exception>

#include "KOVALog.h"

namespace KOVA {

namespace {
const char kSecretSuffix[] = "Password";
const char kSecretMask[] = "******";
// A character array: the configuration is read by a client started before main.
constexpr char kRefOpen[] = "${";
constexpr std::string::size_type kRefOpenSize = sizeof(kRefOpen) - 1;
}  // namespace

std::string TransConfigWithVar(const std::string& value) {
    if (value.empty()) {
        return value;
    }
    // Plain text: a referenced value is inserted as it is, so values holding ":",
    // "(", "$" or "\" (paths, endpoints) come through unchanged, and the inserted text
    // is never scanned again. The name runs to the first "}" after "${"; a "${"
    // without a closing brace is kept literally.
    try {
        std::string result;
        result.reserve(value.size());
        std::string::size_type pos = 0;
        while (pos < value.size()) {
            const std::string::size_type open = value.find(kRefOpen, pos);
            if (open == std::string::npos) {
                break;
            }
            const std::string::size_type close = value.find('}', open + kRefOpenSize);
            if (close == std::string::npos) {
                break;
            }
            result.append(value, pos, open - pos);
            const std::string name = value.substr(open + kRefOpenSize, close - open - kRefOpenSize);
            if (const char* env = getenv(name.c_str())) {
                result.append(env);
            }
            pos = close + 1;
        }
        result.append(value, pos, std::string::npos);
        return result;
    } catch (const std::exception& e) {
        LOG_FATAL("Parse the config:`%s' exception:%s", value.c_str(), e.what());
        return value;
    }
}

std::vector<std::string> SplitConfigItem(const std::string& item) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type eq = item.find('=', start);
        if (eq == std::string::npos) {
            pieces.push_back(item.substr(start));
            return pieces;
        }
        pieces.push_back(item.substr(start, eq - start));
        start = eq + 1;
    }
}

std::string MaskSecretOption(const std::string& option) {
    const std::string::size_type eq = option.find('=');
    if (eq == std::string::npos || eq + 1 == option.size()) {
        return option;
    }
    const std::string key = option.substr(0, eq);
    const std::string suffix = kSecretSuffix;
    if (key.size() < suffix.size() || key.compare(key.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return option;
    }
    return option.substr(0, eq + 1) + kSecretMask;
}

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::string::size_type i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace KOVA
