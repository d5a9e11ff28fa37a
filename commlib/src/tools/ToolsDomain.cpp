// Registrable domains: the last two labels of a host, or the last three when a
// generic suffix stands before a country code (x.com.cn), judged against two fixed,
// case-sensitive suffix lists.
#include "Tools.h"

#include <algorithm>

namespace {

const char* const kGenericSuffixes[] = {
    "com", "org", "net", "edu", "gov", "mil", "arts", "firm", "info", "nom", "rec", "store", "web", "tv", "cc",
};

const char* const kCountryCodes[] = {
    "ad", "ae", "af", "ag", "ai", "al", "am", "an", "ao", "aq", "ar", "as", "at", "au", "aw", "az", "ba", "bb",
    "bd", "be", "bf", "bg", "bh", "bi", "bj", "bm", "bn", "bo", "br", "bs", "bt", "bv", "bw", "by", "bz", "ca",
    "cc", "cf", "cg", "ch", "ci", "ck", "cl", "cm", "cn", "co", "cq", "cr", "cu", "cv", "cx", "cy", "cz", "de",
    "dj", "dk", "dm", "do", "dz", "ec", "ee", "eg", "eh", "es", "et", "ev", "fi", "fj", "fk", "fm", "fo", "fr",
    "ga", "gb", "gd", "ge", "gf", "gh", "gi", "gl", "gm", "gn", "gp", "gr", "gt", "gu", "gw", "gy", "hk", "hm",
    "hn", "hr", "ht", "hu", "id", "ie", "il", "in", "io", "iq", "ir", "is", "it", "jm", "jo", "jp", "ke", "kg",
    "kh", "ki", "km", "kn", "kp", "kr", "kw", "ky", "kz", "la", "lb", "lc", "li", "lk", "lr", "ls", "lt", "lu",
    "lv", "ly", "ma", "mc", "md", "mg", "mh", "ml", "mm", "mn", "mo", "mp", "mq", "mr", "ms", "mt", "mv", "mw",
    "mx", "my", "mz", "na", "nc", "ne", "nf", "ng", "ni", "nl", "no", "np", "nr", "nt", "nu", "nz", "om", "pa",
    "pe", "pf", "pg", "ph", "pk", "pl", "pm", "pn", "pr", "pt", "pw", "py", "qa", "re", "ro", "ru", "rw", "sa",
    "sb", "sc", "sd", "se", "sg", "sh", "si", "sj", "sk", "sl", "sm", "sn", "so", "sr", "st", "su", "sy", "sz",
    "tc", "td", "tf", "tg", "th", "tj", "tk", "tm", "tn", "to", "tp", "tr", "tt", "tv", "tw", "tz", "ua", "ug",
    "uk", "us", "uy", "va", "vc", "ve", "vg", "vn", "vu", "wf", "ws", "ye", "yu", "za", "zm", "zr", "zw",
};

static_assert(sizeof kGenericSuffixes / sizeof kGenericSuffixes[0] == 15, "15 generic suffixes");
static_assert(sizeof kCountryCodes / sizeof kCountryCodes[0] == 233, "233 country codes");

bool Contains(const std::vector<std::string>& list, const std::string& label) {
    return std::find(list.begin(), list.end(), label) != list.end();
}

std::string JoinLabels(const std::vector<std::string>& labels, size_t first) {
    std::string joined;
    for (size_t i = first; i < labels.size(); ++i) {
        if (i > first) joined += '.';
        joined += labels[i];
    }
    return joined;
}

}  // namespace

int Tools::InitDomain() {
    if (d_iInit == 1) return 0;
    d_iInit = 1;
    // Appended, so suffixes a caller put in the lists before the first use stay valid.
    d_vsPostfix.insert(d_vsPostfix.end(), std::begin(kGenericSuffixes), std::end(kGenericSuffixes));
    d_vsCountryPostfix.insert(d_vsCountryPostfix.end(), std::begin(kCountryCodes), std::end(kCountryCodes));
    return 0;
}

// The host labels of `url` and how many of the last ones form its registrable domain
// (all of them for an address or a two-label host); 0 when there is none.
static size_t RegistrableLabels(Tools& tools, char* url, std::vector<std::string>& labels) {
    tools.InitDomain();
    std::string host;
    if (tools.GetUrl(url, host) != 0) return 0;
    tools.GetDistUrl(host, labels);
    const size_t n = labels.size();
    if (tools.IsIPAddr(labels) == 0) return n;
    if (n == 2) return 2;
    if (n < 2) return 0;
    if (Contains(tools.d_vsCountryPostfix, labels[n - 1])) {
        return Contains(tools.d_vsPostfix, labels[n - 2]) ? 3 : 2;
    }
    return Contains(tools.d_vsPostfix, labels[n - 1]) ? 2 : 0;
}

int Tools::GetUrlToDomail(char* url, std::string& sUrlResult) {
    std::vector<std::string> labels;
    const size_t count = RegistrableLabels(*this, url, labels);
    if (count == 0) return -1;
    sUrlResult = JoinLabels(labels, labels.size() - count);
    return 0;
}

int Tools::GetUrlToDomail(char* url, std::vector<std::string>& vsUrlResult) {
    std::vector<std::string> labels;
    const size_t count = RegistrableLabels(*this, url, labels);
    if (count == 0) return -1;
    // The registrable domain first, then one more label to the left each time.
    for (size_t first = labels.size() - count + 1; first-- > 0;) vsUrlResult.push_back(JoinLabels(labels, first));
    return 0;
}
