#include "KOVAOMessage.h"

#include <KOVAMessage.h>

#include <chrono>
#include <utility>

namespace KOVA {

// What every string getter refers to when the value is absent.
// A function-local static that is never destroyed: usable before main and
// during exit.
static const std::string& OMSG_EMPTY_STRING() {
    static const std::string* empty = new std::string();
    return *empty;
}

namespace {

int64_t NowMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The caller's (pointer, length) pair as bytes; an unusable pair means no bytes.
std::string BytesAt(const char* data, int len) {
    if (data == nullptr || len <= 0) {
        return std::string();
    }
    return std::string(data, static_cast<size_t>(len));
}

}  // namespace

OMessage::OMessage() : OMessage(std::string(), COMMON::E_RAW) {}

OMessage::OMessage(const std::string& message, COMMON::IEncodingType etype)
    : _etype(etype), _bornTimestamp(NowMilliseconds()), _message(message), _failStore(false) {}

OMessage::OMessage(const char* data, int len, COMMON::IEncodingType etype)
    : _etype(etype), _bornTimestamp(NowMilliseconds()), _message(BytesAt(data, len)), _failStore(false) {}

OMessage::OMessage(const OMessage& other)
    : IceUtil::Shared(),
      _etype(other._etype),
      _bornTimestamp(other._bornTimestamp),
      _properties(other._properties),
      _message(other._message),
      _failStore(other._failStore) {}

OMessage::OMessage(OMessage&& other) noexcept
    : IceUtil::Shared(),
      _etype(other._etype),
      _bornTimestamp(other._bornTimestamp),
      _properties(std::move(other._properties)),
      _message(std::move(other._message)),
      _failStore(other._failStore) {}

OMessage& OMessage::operator=(const OMessage& other) {
    if (this != &other) {
        _etype = other._etype;
        _bornTimestamp = other._bornTimestamp;
        _properties = other._properties;
        _message = other._message;
        _failStore = other._failStore;
    }
    return *this;
}

OMessage& OMessage::operator=(OMessage&& other) noexcept {
    if (this != &other) {
        _etype = other._etype;
        _bornTimestamp = other._bornTimestamp;
        _properties = std::move(other._properties);
        _message = std::move(other._message);
        _failStore = other._failStore;
    }
    return *this;
}

OMessage::~OMessage() = default;

void OMessage::SetMessage(const std::string& message) {
    if (&message != &_message) {
        _message = message;
    }
}

void OMessage::SetMessage(const char* data, int len) {
    if (data != _message.data()) {
        _message = BytesAt(data, len);
    }
}

void OMessage::SetMessageId(const std::string& msgid) { SetProperty(KOVAMsg::kovasMsgidProperty, msgid); }

const std::string& OMessage::GetMessageId() const { return GetProperty(KOVAMsg::kovasMsgidProperty); }

void OMessage::SetTags(const std::string& tags) { SetProperty(KOVAMsg::kovasTagsProperty, tags); }

const std::string& OMessage::GetTags() const { return GetProperty(KOVAMsg::kovasTagsProperty); }

void OMessage::SetProperty(const std::string& key, const std::string& property) { _properties[key] = property; }

const std::string& OMessage::GetProperty(const std::string& key) const {
    auto found = _properties.find(key);
    return found == _properties.end() ? OMSG_EMPTY_STRING() : found->second;
}

}  // namespace KOVA
