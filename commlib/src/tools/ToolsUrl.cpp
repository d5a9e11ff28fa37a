// URL routines: percent unescaping, host extraction and host labels.
#include "Tools.h"

#include <algorithm>

namespace {

// A digit at or above 'A' is a letter in either case; anything else counts as a
// decimal digit.
unsigned HexDigitValue(char digit) {
    const unsigned char c = static_cast<unsigned char>(digit);
    return c >= 'A' ? (c & 0xdfu) - 'A' + 10u : c - static_cast<unsigned>('0');
}

}  // namespace

char Tools::x2c(char* what) {
    const unsigned value = 16u * HexDigitValue(what[0]) + HexDigitValue(what[1]);
    return static_cast<char>(static_cast<unsigned char>(value & 0xffu));
}

void Tools::unescape_url(char* url) {
    if (url == nullptr) return;
    size_t to = 0;
    for (size_t from = 0; url[from] != '\0'; ++from, ++to) {
        url[to] = url[from];
        // A '%' too close to the end to carry two digits stays as it is.
        if (url[from] == '%' && url[from + 1] != '\0' && url[from + 2] != '\0') {
            url[to] = x2c(&url[from + 1]);
            from += 2;
        }
    }
    url[to] = '\0';
}

int Tools::GetUrl(const char* url, std::string& sUrl) {
    if (url == nullptr || *url == '\0') return -1;
    const std::string text(url);
    const size_t scheme = text.find("://");
    const size_t start = scheme == std::string::npos ? 0 : scheme + 3;
    size_t end = text.find('/', start);
    if (end == std::string::npos) end = text.size();
    std::string host = text.substr(start, end - start);
    host.erase(std::remove(host.begin(), host.end(), ' '), host.end());
    sUrl.swap(host);
    return 0;
}

int Tools::GetDistUrl(const std::string& sUrl, std::vector<std::string>& vsUrl) {
    size_t start = 0;
    for (size_t dot = sUrl.find('.'); dot != std::string::npos; dot = sUrl.find('.', start)) {
        vsUrl.push_back(sUrl.substr(start, dot - start));
        start = dot + 1;
    }
    vsUrl.push_back(sUrl.substr(start));
    return 0;
}

int Tools::IsIPAddr(std::vector<std::string>& vsUrl) {
    if (vsUrl.size() != 4) return -1;
    for (const std::string& label : vsUrl) {
        if (label.find_first_not_of("0123456789") != std::string::npos) return -1;
    }
    return 0;
}
