// Ids: per-uid passwords, user-id range mapping, the kernel thread id and the
// process-wide command-name table.
#include "Tools.h"

#include <cstdio>
#include <sys/syscall.h>
#include <unistd.h>

const CCmdName Tools::cmdName;

namespace {

// The finaliser of SplitMix64: a fixed bijective mix, so that neighbouring uids get
// unrelated passwords. The salt keeps the result apart from other uses of the mix.
ULong64 MixUid(ULong64 uid) {
    ULong64 z = uid + 0x4b4f56415061ULL + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

}  // namespace

int Tools::getPasswdByUid(unsigned int freeUid, char* passwd) {
    const ULong64 mixed = MixUid(freeUid);
    const UInt password = static_cast<UInt>(mixed ^ (mixed >> 32));
    snprintf(passwd, 11, "%u", password);
    return 0;
}

long Tools::getPasswdByUidV2(unsigned long freeUid, char* passwd) {
    snprintf(passwd, 21, "%llu", static_cast<unsigned long long>(MixUid(MixUid(freeUid))));
    return 0;
}

pid_t Tools::gettid() { return static_cast<pid_t>(syscall(SYS_gettid)); }

ULong64 Tools::Uid32BitsMap64Bits(UInt uUid, ULong64 ulLower) { return ulLower + uUid - 1; }

UInt Tools::Uid64BitsMap32Bits(ULong64 ulUid, ULong64 ulLower, ULong64 ulUpper) {
    if (ulUid <= 0xffffffffULL) return static_cast<UInt>(ulUid);
    if (ulLower <= ulUid && ulUid <= ulUpper) return static_cast<UInt>(ulUid - ulLower + 1);
    return 0;
}

const char* Tools::GetCmdName(int cmd) { return cmdName.GetCmdName(cmd); }
