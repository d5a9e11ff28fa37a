// For callers (included by KOVAClientLib.h).
// The client's shared vocabulary: result codes, body encodings, log levels, common
// typedefs and the two string constants of produce properties.
// Header-only; every translation unit that includes it holds its own copy of the
// string constants (internal linkage), so no unit depends on another's initialisation.
#pragma once

#include <map>
#include <string>
#include <vector>

// Name of the environment variable whose value prefixes the default log file name.
#define KOVA_LOG_PREFIX_ "envKovaLogPrefix"

namespace KOVA {
namespace COMMON {

// Result codes of every client operation. The numbers are shared with the service
// (KOVA::KOVA_CODE) and are not contiguous: keep them exactly.
enum CLIENT_CODE {
    SUCCESS = 0,
    BUSY = 1,
    TOO_MANY = 2,
    RESOURCE_NOT_EXIST = 3,
    JUST_PRODUCE = 4,
    JUST_CONSUME = 5,
    INVALID_OP = 6,
    SESSION_TIMEOUT = 7,
    NOT_EXIST = 8,
    PRODUCE_RESOURCE_FAILED = 9,
    CONSUME_RESOURCE_FAILED = 10,
    RESPONSE_CLIENT_FAILED = 11,
    PRODUCE_DELAY = 12,
    FORBID_PRODUCE = 13,
    FORBID_CONSUME = 14,
    CONSUME_TIMEOUT = 15,
    CONSUME_NONEWMSG = 16,
    CONSUME_NOMATCHMSG = 17,
    CONSUME_NOIDLEQUEUE = 18,
    CONSUME_MSGEXPIRED = 19,
    RESOURCE_NOREADY = 20,
    PRODUCE_TIMEOUT = 30,
    PRODUCE_BUSY = 31,
    COMMIT_TIMEOUT = 40,
    COMMIT_INVALID = 41,
    COMMIT_EXPIRED = 42,
    CONSUME_PAUSE = 50,
    SERVER_EXITING = 51,
    CONSUME_FAILED = 99,
    INTERNAL_ERROR = 100,
    PRODUCE_MESSAGE_CACHED = 200,
    PRODUCE_MESSAGE_CACHED_FAIL = 201
};

// Body encodings. 1-3 are compressed by the client; 11-13 mark bodies the caller
// encoded already (only "CONTENT_ENCODING" is set for them).
enum IEncodingType {
    E_RAW = 0,
    E_GZIP = 1,
    E_LZ4 = 2,
    E_ZSTD = 3,
    E_TGZIP = 11,
    E_TLZ4 = 12,
    E_TZSTD = 13
};

// Log levels. No log site writes at TRACE, so TRACE lets through what DEBUG does.
enum elogLevel {
    eLOG_LEVEL_FATAL = 1,
    eLOG_LEVEL_ERROR = 2,
    eLOG_LEVEL_WARN = 3,
    eLOG_LEVEL_INFO = 4,
    eLOG_LEVEL_DEBUG = 5,
    eLOG_LEVEL_TRACE = 6,
    eLOG_LEVEL_LEVEL_NUM = 7
};

typedef std::map<std::string, std::string> KOVAProperties;

// Owning, untyped handle of a pulled batch's commit state (a KOVA::_LocalConsmueStatus),
// or null when the pull failed.
typedef void* CommitInfoType;

// Positional property lists of a message; exactly the element types of the wire
// record's s_properties, i_properties and l_properties, so they can be moved over.
namespace INTERANL {
typedef std::vector<std::string> kOVAStrProperties;
typedef std::vector<int> kOVA32IProperties;
typedef std::vector<long> kOVA64IProperties;
}  // namespace INTERANL

// Tags of a message (read and written under KOVAMsg::kovasTagsProperty, same text).
const std::string KOVA_TAGS_PROPERTY = "TAGS";
// Key of the produce properties asking for the batch to be stored instead of sent;
// presence alone counts.
const std::string KOVA_STORE_PROPERTY = "STORE";

}  // namespace COMMON
}  // namespace KOVA
