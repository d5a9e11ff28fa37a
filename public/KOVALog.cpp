// The process logger: creation, level table, line writing, rotation and directory
// creation.
//
// Log file format: text, one line per message, appended to <stem>.log:
//   "[" YYYY-MM-DD hh:mm:ss uuuuuu "] " <message> "\n"
// where a log site's message is "<file>:<line>[<pid> <tid hex>](<function>) <LEVEL>: <text>".
// When <stem>.log reaches the size limit after a line, it becomes <stem>1.log, the
// former <stem>1.log becomes <stem>2.log, and so on up to <stem>(n-1).log; the oldest
// is removed. The file is opened and closed for every line, so a file moved or
// deleted by someone else is picked up at the next line.
#include "KOVALog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

namespace TQPublicTool {

namespace {

std::atomic<KOVALog*> _pKOVALogger{nullptr};
std::mutex _logMutex;

const long kDefaultMaxLogSize = 104857600;  // 100 MiB
const int kDefaultMaxLogNum = 3;

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const char* path) { return access(path, F_OK) == 0; }

// The directory the stem lives in: `logdir` with a trailing "/", or the working
// directory when none is given (an empty directory must not mean the root).
std::string LogDirectoryPrefix(const std::string& logdir) {
    if (logdir.empty()) {
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) == nullptr) return std::string();  // relative to cwd
        std::string dir(cwd);
        if (dir.back() != '/') dir += '/';
        return dir;
    }
    if (logdir.back() == '/') return logdir;
    return logdir + "/";
}

std::string BuildStem(const std::string& logdir, const std::string& prefix, const std::string& fname) {
    std::string stem = LogDirectoryPrefix(logdir);
    if (!fname.empty()) return stem + fname;
    return stem + GetKovaLogPrefixId(prefix) + "sdk-cpp";
}

struct LevelName {
    const char* text;
    KOVA::COMMON::elogLevel level;
};

// Constant-initialised: the level may be set by a client started before main.
constexpr LevelName kLevelNames[] = {
    {"TRACE", KOVA::COMMON::eLOG_LEVEL_TRACE}, {"trace", KOVA::COMMON::eLOG_LEVEL_TRACE},
    {"DEBUG", KOVA::COMMON::eLOG_LEVEL_DEBUG}, {"debug", KOVA::COMMON::eLOG_LEVEL_DEBUG},
    {"INFO", KOVA::COMMON::eLOG_LEVEL_INFO},   {"info", KOVA::COMMON::eLOG_LEVEL_INFO},
    {"WARN", KOVA::COMMON::eLOG_LEVEL_WARN},   {"warn", KOVA::COMMON::eLOG_LEVEL_WARN},
    {"ERROR", KOVA::COMMON::eLOG_LEVEL_ERROR}, {"error", KOVA::COMMON::eLOG_LEVEL_ERROR},
    {"FATAL", KOVA::COMMON::eLOG_LEVEL_FATAL}, {"fatal", KOVA::COMMON::eLOG_LEVEL_FATAL},
};

}  // namespace

std::string GetKovaLogPrefixId(const std::string& prefix) {
    const char* env = getenv(KOVA_LOG_PREFIX_);
    if (env != nullptr) return env;
    if (!prefix.empty()) return prefix;
    return std::to_string(getpid());
}

const char* KovaLogSourceName(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

KOVALog* KOVALog::getLogInstance(const std::string& logdir, const std::string& prefix, const std::string& fname) {
    const bool namesTarget = !logdir.empty() || !prefix.empty() || !fname.empty();
    KOVALog* log = _pKOVALogger.load(std::memory_order_acquire);
    if (log != nullptr && (!namesTarget || !log->_provisional.load(std::memory_order_acquire))) return log;

    std::lock_guard<std::mutex> creation(_logMutex);
    log = _pKOVALogger.load(std::memory_order_relaxed);
    if (log != nullptr) {
        if (namesTarget && log->_provisional.load(std::memory_order_relaxed)) {
            log->Retarget(BuildStem(logdir, prefix, fname));
        }
        return log;
    }
    log = new KOVALog();
    log->Log_Init(BuildStem(logdir, prefix, fname).c_str(), kDefaultMaxLogSize, kDefaultMaxLogNum, 0);
    log->setLogLevel(KOVA::COMMON::eLOG_LEVEL_WARN);
    log->_provisional.store(!namesTarget, std::memory_order_relaxed);
    _pKOVALogger.store(log, std::memory_order_release);
    return log;
}

KOVALog::KOVALog()
    : lMaxLogSize(kDefaultMaxLogSize),
      iMaxLogNum(kDefaultMaxLogNum),
      iLogInitialized(0),
      iIsShow(1),
      _logLevel(KOVA::COMMON::eLOG_LEVEL_WARN) {
    memset(sLogBaseName, 0, sizeof sLogBaseName);
}

KOVALog::~KOVALog() = default;

void KOVALog::Log_Init(const char* sPLogBaseName, long lPMaxLogSize, int iPMaxLogNum, int iShow) {
    std::lock_guard<std::mutex> write(_mutex);
    SetStemLocked(sPLogBaseName);
    lMaxLogSize = lPMaxLogSize;
    iMaxLogNum = iPMaxLogNum;
    iIsShow = iShow;
    iLogInitialized = 1;
    _provisional.store(false, std::memory_order_release);  // an explicit target is final
}

void KOVALog::Retarget(const std::string& stem) {
    std::lock_guard<std::mutex> write(_mutex);
    SetStemLocked(stem.c_str());
    _provisional.store(false, std::memory_order_release);
}

void KOVALog::SetStemLocked(const char* stem) {
    memset(sLogBaseName, 0, sizeof sLogBaseName);
    strncpy(sLogBaseName, stem, sizeof sLogBaseName - 1);
}

std::string KOVALog::getLogBaseName() {
    std::lock_guard<std::mutex> write(_mutex);
    return sLogBaseName;
}

void KOVALog::setLogLevel(const std::string& logLevel) {
    for (const LevelName& name : kLevelNames) {
        if (logLevel == name.text) {
            setLogLevel(name.level);
            return;
        }
    }
}

void KOVALog::Log_Msg(const char* sFormat, ...) {
    va_list ap;
    va_start(ap, sFormat);
    if (iIsShow) {
        char date[32];
        va_list echo;
        va_copy(echo, ap);
        printf("[%s] ", GetCurDateTimeStr(date));
        vprintf(sFormat, echo);
        printf("\n");
        va_end(echo);
    }
    {
        std::lock_guard<std::mutex> write(_mutex);
        if (iLogInitialized) {
            // A line that cannot be written is lost; the site is never told.
            (void)Log_VWriteLog(sLogBaseName, lMaxLogSize, iMaxLogNum, nullptr, sFormat, ap);
        }
    }
    va_end(ap);
}

int KOVALog::Log_WriteLog(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg, const char* sFormat,
                          ...) {
    va_list ap;
    va_start(ap, sFormat);
    int result;
    {
        std::lock_guard<std::mutex> write(_mutex);
        result = Log_VWriteLog(sLogBaseName, lMaxLogSize, iMaxLogNum, sErrMsg, sFormat, ap);
    }
    va_end(ap);
    return result;
}

namespace {
int Fail(char* sErrMsg, const char* text) {
    if (sErrMsg != nullptr) strcpy(sErrMsg, text);
    return -1;
}
}  // namespace

int KOVALog::Log_VWriteLog(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg, const char* sFormat,
                           va_list ap) {
    const std::string fileName = std::string(sLogBaseName) + ".log";
    FILE* file = fopen(fileName.c_str(), "a+");
    if (file == nullptr) {
        if (MakeDir(fileName, false) != 0) return Fail(sErrMsg, "Fail to open log file");
        file = fopen(fileName.c_str(), "a+");
        if (file == nullptr) return Fail(sErrMsg, "Fail to open log file");
    }
    char date[32];
    va_list line;
    va_copy(line, ap);  // the caller's list stays usable
    fprintf(file, "[%s] ", GetCurDateTimeStr(date));
    vfprintf(file, sFormat, line);
    fputs("\n", file);
    va_end(line);
    fclose(file);
    return ShiftFiles(sLogBaseName, lMaxLogSize, iMaxLogNum, sErrMsg);
}

int KOVALog::ShiftFiles(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg) {
    const std::string stem(sLogBaseName);
    const std::string current = stem + ".log";
    struct stat st;
    if (stat(current.c_str(), &st) != 0) return Fail(sErrMsg, "Fail to get file status");
    if (st.st_size < lMaxLogSize) return 0;

    auto numbered = [&stem](int i) { return stem + std::to_string(i) + ".log"; };
    const std::string oldest = numbered(iMaxLogNum - 1);
    if (Exists(oldest.c_str()) && remove(oldest.c_str()) != 0) {
        return Fail(sErrMsg, "Fail to remove oldest log file");
    }
    for (int i = iMaxLogNum - 2; i >= 0; --i) {
        const std::string source = i > 0 ? numbered(i) : current;
        if (!Exists(source.c_str())) continue;
        if (rename(source.c_str(), numbered(i + 1).c_str()) != 0) {
            return Fail(sErrMsg, "Fail to remove oldest log file");
        }
    }
    return 0;
}

int KOVALog::MakeDir(const std::string& strPath, bool bPathDir) {
    std::string dir;
    if (bPathDir) {
        dir = strPath;
    } else {
        const size_t slash = strPath.rfind('/');
        if (slash == std::string::npos) return -1;
        dir = strPath.substr(0, slash + 1);
    }
    // Every missing component in turn, like "mkdir -p", but without a shell, so blanks
    // and shell characters are just characters and the length is not cut.
    for (size_t pos = dir.find('/', 1); pos != std::string::npos; pos = dir.find('/', pos + 1)) {
        (void)mkdir(dir.substr(0, pos).c_str(), 0777);
    }
    if (!dir.empty()) (void)mkdir(dir.c_str(), 0777);
    if (!dir.empty() && IsDirectory(dir)) return 0;
    if (!bPathDir) fprintf(stderr, "Can't create dir[%s]\n", dir.c_str());
    return -1;
}

const char* KOVALog::GetCurDateTimeStr(char (&buf)[32]) {
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct tm local;
    const time_t seconds = now.tv_sec;
    localtime_r(&seconds, &local);
    // Years since 1900 of 50 or less are read as 20xx.
    const unsigned year = local.tm_year + (local.tm_year <= 50 ? 2000 : 1900);
    // Unsigned and bounded, so the text always fits the 27 bytes it needs.
    snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u %.6u", year % 10000u, (local.tm_mon + 1u) % 100u,
             local.tm_mday % 100u, local.tm_hour % 100u, local.tm_min % 100u, local.tm_sec % 100u,
             static_cast<unsigned>(now.tv_usec) % 1000000u);
    return buf;
}

}  // namespace TQPublicTool
