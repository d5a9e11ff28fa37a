// The generated unit of KOVAMessageService.ice, then its readiness mark: statics of one unit
// are initialised in the order they appear, so the mark is set after them.
#include "KOVAMessageService.cpp"

#include "KOVASliceReady.h"

namespace {

const bool kUnitReady = KOVA::MarkSliceStaticsReady();

}  // namespace
