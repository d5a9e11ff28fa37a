// Compile-time contract between the client's own vocabulary and the service's Slice
// types. Nothing here runs; the build fails when either side drifts.
#include "KOVACommon.h"

#include <KOVAMessage.h>
#include <KOVAMessageService.h>

#include <type_traits>

namespace {

// Codes the server sends travel to the caller unchanged, so each client code must
// carry the same number as its service twin.
#define KOVA_SAME_CODE(name)                                                                   \
    static_assert(static_cast<int>(KOVA::COMMON::name) == static_cast<int>(KOVA::KOVA_##name), \
                  "CLIENT_CODE " #name " differs from KOVA_CODE KOVA_" #name)

KOVA_SAME_CODE(SUCCESS);
KOVA_SAME_CODE(BUSY);
KOVA_SAME_CODE(TOO_MANY);
KOVA_SAME_CODE(RESOURCE_NOT_EXIST);
KOVA_SAME_CODE(JUST_PRODUCE);
KOVA_SAME_CODE(JUST_CONSUME);
KOVA_SAME_CODE(INVALID_OP);
KOVA_SAME_CODE(SESSION_TIMEOUT);
KOVA_SAME_CODE(NOT_EXIST);
KOVA_SAME_CODE(PRODUCE_RESOURCE_FAILED);
KOVA_SAME_CODE(CONSUME_RESOURCE_FAILED);
KOVA_SAME_CODE(RESPONSE_CLIENT_FAILED);
KOVA_SAME_CODE(PRODUCE_DELAY);
KOVA_SAME_CODE(FORBID_PRODUCE);
KOVA_SAME_CODE(FORBID_CONSUME);
KOVA_SAME_CODE(CONSUME_TIMEOUT);
KOVA_SAME_CODE(CONSUME_NONEWMSG);
KOVA_SAME_CODE(CONSUME_NOMATCHMSG);
KOVA_SAME_CODE(CONSUME_NOIDLEQUEUE);
KOVA_SAME_CODE(CONSUME_MSGEXPIRED);
KOVA_SAME_CODE(RESOURCE_NOREADY);
KOVA_SAME_CODE(PRODUCE_TIMEOUT);
KOVA_SAME_CODE(PRODUCE_BUSY);
KOVA_SAME_CODE(COMMIT_TIMEOUT);
KOVA_SAME_CODE(COMMIT_INVALID);
KOVA_SAME_CODE(COMMIT_EXPIRED);
KOVA_SAME_CODE(CONSUME_PAUSE);
KOVA_SAME_CODE(SERVER_EXITING);
KOVA_SAME_CODE(CONSUME_FAILED);
KOVA_SAME_CODE(INTERNAL_ERROR);

#undef KOVA_SAME_CODE

// A message takes a record's positional lists over by moving them, which only
// compiles into a move (not a copy) when the types are identical.
static_assert(std::is_same<KOVA::COMMON::INTERANL::kOVAStrProperties, KOVAMsg::kovaInternalProperties>::value,
              "string property list differs from the record's s_properties");
static_assert(std::is_same<KOVA::COMMON::INTERANL::kOVA32IProperties, KOVAMsg::kovaInternalI32Properties>::value,
              "32-bit property list differs from the record's i_properties");
static_assert(std::is_same<KOVA::COMMON::INTERANL::kOVA64IProperties, KOVAMsg::kovaInternalI64Properties>::value,
              "64-bit property list differs from the record's l_properties");
static_assert(std::is_same<KOVA::COMMON::KOVAProperties, KOVAMsg::KOVAProperties>::value,
              "user property map differs from the record's properties");

}  // namespace
