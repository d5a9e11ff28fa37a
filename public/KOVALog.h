// Internal (kova_log_codecs); callers set the level through KOVAClientLib::SetLogLevel.
// TQPublicTool::KOVALog: the one file logger of the process, with size rotation.
//
// Thread safety: every member may be called from any thread. Creation is
// double-checked under a creation mutex and the instance pointer is atomic; each line
// (open, write, close, size check, rotation) is written under the instance's write
// mutex, so lines never interleave and rotation never races a write. The level is
// atomic and read without locking at every log site.
//
// Ownership: the instance is created on first use and never destroyed.
//
// The log file format and rotation scheme are described in KOVALog.cpp.
//
// Log sites use LOG_FATAL ... LOG_DEBUG. A site below the current level costs one
// level read: it formats nothing and evaluates none of its arguments.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <pthread.h>
#include <stdarg.h>
#include <string>
#include <unistd.h>

#include "KOVACommon.h"

namespace TQPublicTool {

// Prefix id of the default log file name: the value of "envKovaLogPrefix" when set
// (even empty), else `prefix` when non-empty, else the process id.
std::string GetKovaLogPrefixId(const std::string& prefix);

// The file name part of a source path, for the log-line prefix.
const char* KovaLogSourceName(const char* path);

class KOVALog {
public:
    // The process's logger, created by the first call. An empty directory means the
    // working directory (resolved at that moment). A logger first created from empty
    // arguments (no directory, prefix or name: a log site that ran before start-up)
    // is provisional and is re-targeted once by the first later call that gives any
    // of them; after that, arguments are ignored. The provisional file is left as is.
    static KOVALog* getLogInstance(const std::string& logdir = "", const std::string& prefix = "",
                                   const std::string& fname = "");

    virtual ~KOVALog();

    // Sets the stem (cut to 199 characters), size limit, file count and echo flag, and
    // enables file writes. Also ends the provisional state: a stem set here is kept.
    void Log_Init(const char* sPLogBaseName, long lPMaxLogSize, int iPMaxLogNum, int iShow);
    // Echoes the message to standard output when enabled, then appends it to the file.
    void Log_Msg(const char* sFormat, ...) __attribute__((format(printf, 2, 3)));

    KOVA::COMMON::elogLevel getLogLevel() const { return _logLevel.load(std::memory_order_relaxed); }
    void setLogLevel(KOVA::COMMON::elogLevel logLevel) { _logLevel.store(logLevel, std::memory_order_relaxed); }
    // By name ("warn", "WARN", ...); a name not in the table changes nothing.
    void setLogLevel(const std::string& logLevel);

    // The write step under the write mutex, with explicit parameters and an error
    // buffer (at least 64 bytes) for the reason of a failure.
    int Log_WriteLog(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg, const char* sFormat, ...)
        __attribute__((format(printf, 6, 7)));
    // Appends one line to <stem>.log and rotates; 0, or -1 with the reason in sErrMsg
    // when it is not null. The caller holds the write mutex; `ap` is left usable.
    int Log_VWriteLog(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg, const char* sFormat,
                      va_list ap);
    // Size check and rotation: <stem>.log -> <stem>1.log -> ... -> <stem>(n-1).log.
    int ShiftFiles(char* sLogBaseName, long lMaxLogSize, int iMaxLogNum, char* sErrMsg);
    // Creates a directory (bPathDir) or the directory part of a file path; 0 or -1.
    static int MakeDir(const std::string& strPath, bool bPathDir);
    // "%04d-%02d-%02d %02d:%02d:%02d %.6d" of the current local time, in `buf`.
    static const char* GetCurDateTimeStr(char (&buf)[32]);

    // The current stem (for tests and diagnostics).
    std::string getLogBaseName();

private:
    KOVALog();
    KOVALog(const KOVALog&) = delete;
    KOVALog& operator=(const KOVALog&) = delete;

    // Points a provisional logger at its real file (once); the old file is left as is.
    void Retarget(const std::string& stem);
    // Zero-fills the stem and copies at most 199 characters; the caller holds _mutex.
    void SetStemLocked(const char* stem);

    char sLogBaseName[200];
    long lMaxLogSize;
    int iMaxLogNum;
    int iLogInitialized;
    std::atomic<int> iIsShow;  // read unlocked by the echo
    std::atomic<KOVA::COMMON::elogLevel> _logLevel;
    std::mutex _mutex;
    std::atomic<bool> _provisional{false};  // created from empty arguments, not yet re-targeted
};

}  // namespace TQPublicTool

#define KOVA_LOG_AT_(level, word, fmt, ...)                                                                     \
    do {                                                                                                        \
        ::TQPublicTool::KOVALog* kova_log_ = ::TQPublicTool::KOVALog::getLogInstance();                         \
        if (kova_log_->getLogLevel() >= (level)) {                                                              \
            kova_log_->Log_Msg("%s:%d[%d %0x](%s) " word ": " fmt, ::TQPublicTool::KovaLogSourceName(__FILE__), \
                               __LINE__, static_cast<int>(getpid()),                                            \
                               static_cast<unsigned>(static_cast<unsigned long>(pthread_self())), __func__,     \
                               ##__VA_ARGS__);                                                                  \
        }                                                                                                       \
    } while (0)

#define LOG_FATAL(fmt, ...) KOVA_LOG_AT_(::KOVA::COMMON::eLOG_LEVEL_FATAL, "FATAL", fmt, ##__VA_ARGS__)
#define LOG_ERROR(fmt, ...) KOVA_LOG_AT_(::KOVA::COMMON::eLOG_LEVEL_ERROR, "ERROR", fmt, ##__VA_ARGS__)
#define LOG_WARN(fmt, ...) KOVA_LOG_AT_(::KOVA::COMMON::eLOG_LEVEL_WARN, "WARN", fmt, ##__VA_ARGS__)
#define LOG_INFO(fmt, ...) KOVA_LOG_AT_(::KOVA::COMMON::eLOG_LEVEL_INFO, "INFO", fmt, ##__VA_ARGS__)
#define LOG_DEBUG(fmt, ...) KOVA_LOG_AT_(::KOVA::COMMON::eLOG_LEVEL_DEBUG, "DEBUG", fmt, ##__VA_ARGS__)
