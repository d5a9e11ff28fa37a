// Internal (kova_model).
// Turns the reply of a pull into the ConsumeStatus handed to the caller. Stateless;
// runs on the thread that completes the pull.
#pragma once

#include "KOVAConsumeStatus.h"

#include <Glacier2/Router.h>
#include <KOVAMessage.h>
#include <KOVAMessageService.h>

namespace KOVA {

// A non-zero `csinfo.code` gives a status with that code, no messages and no commit
// state, and leaves `datas` alone. Code 0 gives a status with one IMessage per record
// of `datas` in order (each record's property containers are moved out) and a commit
// state copied from `csinfo`. The commit proxy is `csinfo.callback`, routed through
// `router` when one is given, with the invocation timeout of the proxy the reply
// came through (`invocationTimeout`, Ice's milliseconds or -1); a missing callback
// stays null (no routing, no throw).
ConsumeStatusPtr GetLocalStatusFromConsumeResult(const KOVA::ConsumeResultInfo& csinfo,
                                                 KOVAMsg::KOVABatchMessage& datas, const Glacier2::RouterPrx& router,
                                                 int invocationTimeout);

}  // namespace KOVA
