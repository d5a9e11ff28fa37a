#include "KOVAIMessage.h"

#include "EncodingNames.h"
#include "KOVALog.h"
#include "PublicTools.h"

#include <KOVAMessage.h>

#include <type_traits>
#include <utility>

namespace KOVA {

// What every string getter refers to when the value is absent.
// A function-local static that is never destroyed: usable before main and
// during exit.
static const std::string& IMSG_EMPTY_STRING() {
    static const std::string* empty = new std::string();
    return *empty;
}

// Never throws for a bad body: whatever cannot be decoded is delivered as the
// received bytes, marked raw, so a consumer never sees a truncated prefix. The
// warnings are written here so that their lines name the constructor.
template <typename Record>
IMessage::IMessage(Record* record, FromRecord) : _etype(COMMON::E_RAW) {
    if (record == nullptr) {
        return;
    }
    Record& wire = *record;
    if constexpr (std::is_const_v<Record>) {
        _properties = wire.properties;
        _sproperties = wire.s_properties;
        _iproperties = wire.i_properties;
        _lproperties = wire.l_properties;
    } else {
        _properties = std::move(wire.properties);
        _sproperties = std::move(wire.s_properties);
        _iproperties = std::move(wire.i_properties);
        _lproperties = std::move(wire.l_properties);
    }
    // One block copy: assigning from the byte vector's iterators converts
    // element by element.
    if (!wire.message.empty()) {
        _rmessage.assign(reinterpret_cast<const char*>(wire.message.data()), wire.message.size());
    }

    auto encoding = _properties.find(KOVAMsg::kovasEncodingProperty);
    if (encoding == _properties.end()) {
        return;
    }
    const std::string& name = encoding->second;
    COMMON::IEncodingType named = COMMON::E_RAW;
    if (!EncodingTypeFromName(name, named)) {
        LOG_WARN("Can't support encode type:%s, for message:%s", name.c_str(), GetMessageId().c_str());
    }
    if (named != COMMON::E_RAW && TQPublicTool::DecodeContent(named, _rmessage, _message)) {
        _etype = named;
        return;
    }
    LOG_WARN("Decode content for type:%s, message:%s failed, data size:%d", name.c_str(), GetMessageId().c_str(),
             static_cast<int>(_rmessage.size()));
    std::string().swap(_message);
}

IMessage::IMessage(void* record) : IMessage(static_cast<KOVAMsg::KOVAMessage*>(record), FromRecord()) {}

IMessage::IMessage(const KOVAMsg::KOVAMessage& record) : IMessage(&record, FromRecord()) {}

IMessage::IMessage(const IMessage& other)
    : IceUtil::Shared(),
      _etype(other._etype),
      _properties(other._properties),
      _rmessage(other._rmessage),
      _message(other._message),
      _sproperties(other._sproperties),
      _iproperties(other._iproperties),
      _lproperties(other._lproperties) {}

IMessage::IMessage(IMessage&& other) noexcept
    : IceUtil::Shared(),
      _etype(other._etype),
      _properties(std::move(other._properties)),
      _rmessage(std::move(other._rmessage)),
      _message(std::move(other._message)),
      _sproperties(std::move(other._sproperties)),
      _iproperties(std::move(other._iproperties)),
      _lproperties(std::move(other._lproperties)) {}

IMessage& IMessage::operator=(const IMessage& other) {
    if (this != &other) {
        _etype = other._etype;
        _properties = other._properties;
        _rmessage = other._rmessage;
        _message = other._message;
        _sproperties = other._sproperties;
        _iproperties = other._iproperties;
        _lproperties = other._lproperties;
    }
    return *this;
}

IMessage& IMessage::operator=(IMessage&& other) noexcept {
    if (this != &other) {
        _etype = other._etype;
        _properties = std::move(other._properties);
        _rmessage = std::move(other._rmessage);
        _message = std::move(other._message);
        _sproperties = std::move(other._sproperties);
        _iproperties = std::move(other._iproperties);
        _lproperties = std::move(other._lproperties);
    }
    return *this;
}

IMessage::~IMessage() = default;

const std::string& IMessage::ETypeStr() const { return GetProperty(KOVAMsg::kovasEncodingProperty); }

const std::string& IMessage::Message() const { return _etype == COMMON::E_RAW ? _rmessage : _message; }

const std::string& IMessage::GetProperty(const std::string& key) const {
    auto found = _properties.find(key);
    return found == _properties.end() ? IMSG_EMPTY_STRING() : found->second;
}

const std::string& IMessage::GetMessageId() const {
    return _sproperties.size() > static_cast<size_t>(KOVAMsg::msgId) ? _sproperties[KOVAMsg::msgId]
                                                                     : IMSG_EMPTY_STRING();
}

const std::string& IMessage::GetBornHost() const {
    return _sproperties.size() > static_cast<size_t>(KOVAMsg::bornHost) ? _sproperties[KOVAMsg::bornHost]
                                                                        : IMSG_EMPTY_STRING();
}

const std::string& IMessage::GetTags() const { return GetProperty(KOVAMsg::kovasTagsProperty); }

int64_t IMessage::GetBornTimestamp() const {
    return _lproperties.size() > static_cast<size_t>(KOVAMsg::bornTimestamp) ? _lproperties[KOVAMsg::bornTimestamp]
                                                                             : -1;
}

int64_t IMessage::GetStoreTimestamp() const {
    return _lproperties.size() > static_cast<size_t>(KOVAMsg::storeTimestamp) ? _lproperties[KOVAMsg::storeTimestamp]
                                                                              : -1;
}

std::string IMessage::ToString() const {
    std::string text = "{\"msgid\":\"" + GetMessageId();
    text += "\",\"bornHost\":\"" + GetBornHost();
    text += "\",\"bornTimestamp\":" + std::to_string(GetBornTimestamp());
    text += ",\"tags\":\"" + GetTags();
    text += "\",\"storeTimestamp\":" + std::to_string(GetStoreTimestamp());
    text += ",\"encodingType\":" + std::to_string(static_cast<int>(_etype));
    text += ",\"rawMsgLength\":" + std::to_string(_rmessage.size());
    text += ",\"msgLength\":" + std::to_string(Message().size());
    text += "}";
    return text;
}

}  // namespace KOVA
