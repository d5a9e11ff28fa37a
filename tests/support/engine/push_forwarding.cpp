#include "push_forwarding.h"

namespace kova::test::engine {

KOVA::KOVAPushCallback forwardingCallback(const std::shared_ptr<KOVA::KOVAClientLibImpl>& engine) {
    std::weak_ptr<KOVA::KOVAClientLibImpl> weak = engine;
    return [weak](const std::string& rid, const std::string& sid, const std::string& cid,
                  const std::vector<KOVAMsg::KOVAMessage>& msgs, const Ice::Current& current) {
        std::shared_ptr<KOVA::KOVAClientLibImpl> live = weak.lock();
        return live ? live->ConsumeCallback(rid, sid, cid, msgs, current) : static_cast<int>(KOVA::COMMON::NOT_EXIST);
    };
}

}  // namespace kova::test::engine
