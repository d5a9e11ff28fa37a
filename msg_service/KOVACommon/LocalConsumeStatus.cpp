#include "KOVAPublic.h"

namespace KOVA {

_LocalConsmueStatus::_LocalConsmueStatus(int status)
    : _consumeStatus(status), _delay(-1), _size(0), _commitPrx(), _commitInfo{} {}

_LocalConsmueStatus::~_LocalConsmueStatus() = default;

std::string _LocalConsmueStatus::ToString() const {
    const KOVA::KOVAQueueInfo& queue = _commitInfo.info;
    std::string text;
    text.reserve(192 + queue.topic.size() + queue.broker.size() + queue.cluster.size() + _commitInfo.rid.size() +
                 _commitInfo.id.size());
    text += "{\"consumeStatus\":" + std::to_string(_consumeStatus);
    text += ",\"delay\":" + std::to_string(_delay);
    text += ",\"consumeSize\":" + std::to_string(_size);
    text += ",\"commitinfo\":{\"commitid\":" + std::to_string(queue.commitid);
    text += ",\"queue\":{\"id\":" + std::to_string(queue.id);
    text += ",\"topic\":\"" + queue.topic;
    text += "\",\"broker\":\"" + queue.broker;
    text += "\",\"cluster\":\"" + queue.cluster;
    text += "\"},\"transid\":" + std::to_string(queue.transid);
    text += ",\"offset\":" + std::to_string(_commitInfo.offset);
    text += ",\"resource\":\"" + _commitInfo.rid;
    text += "\",\"nodeid\":\"" + _commitInfo.id;
    text += "\"}}";
    return text;
}

}  // namespace KOVA
