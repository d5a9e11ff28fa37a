#include "KOVAConsumeStatus.h"

namespace KOVA {

ConsumeStatus::ConsumeStatus(int status, COMMON::CommitInfoType commitinfo)
    : _commitinfo(commitinfo), _consumeStatus(status) {}

ConsumeStatus::~ConsumeStatus() { delete commitState(); }

int64_t ConsumeStatus::Delay() const {
    const LocalConsmueStatus* state = commitState();
    return state == nullptr ? 0 : state->_delay;
}

}  // namespace KOVA
