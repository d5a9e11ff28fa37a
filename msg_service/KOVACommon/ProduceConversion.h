// Internal (kova_model).
// Turns a message to produce into the wire record, compressing the body when its
// encoding type asks the client to. Stateless; runs on the caller's thread and only
// reads the message.
#pragma once

#include "KOVAOMessage.h"

#include <KOVAMessage.h>

namespace KOVA {

// `kovaMsg` is expected freshly constructed. The record gets the message's
// properties, its born time at l_properties[0] and, when the message has a non-empty
// id, that id at s_properties[0] instead of under "__ks0". Types 1-3 compress the
// body and set "CONTENT_ENCODING"; 11-13 only set it; any other type adds nothing.
// False when compression fails: one line naming the id and body size goes to
// standard error, and the record is left without a body.
bool OMessageToKOVAMessage(const OMessage& omsg, KOVAMsg::KOVAMessage& kovaMsg);

}  // namespace KOVA
