// Mail-address check: one POSIX extended expression for a local part of dot-joined
// atoms or a quoted text, the at sign, and a dotted quad or a dotted host name whose
// last label has two letters or more.
#include "Tools.h"

#include <regex.h>

namespace {

// Bytes an atom may not hold: specials, blanks and controls, '@', '\\' and '"'.
const char kAtom[] = "[^<>()[\\\\.,;: \f\n\r\t\v@\\\"]+";
const char kQuoted[] = "\\\".+\\\"";
const char kQuad[] = "[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}";
const char kNamed[] = "([a-zA-Z0-9-]+\\.)+[a-zA-Z]{2,}";

std::string MailPattern() {
    return std::string("^((") + kAtom + "(\\." + kAtom + ")*)|(" + kQuoted + "))" + "@" + "((" + kQuad + ")|(" +
           kNamed + "))$";
}

}  // namespace

int Tools::CheckValidMail(const char* email) {
    if (email == nullptr) return -1;
    regex_t compiled;
    if (regcomp(&compiled, MailPattern().c_str(), REG_EXTENDED | REG_NOSUB) != 0) return -2;
    const int matched = regexec(&compiled, email, 0, nullptr, 0);
    regfree(&compiled);
    return matched == 0 ? 0 : -1;
}
