// For callers (included by KOVAClientLib.h).
// KOVA::IMessage: one consumed message, built from a received wire record, with its
// body decoded as its "CONTENT_ENCODING" property names.
//
// Thread safety: none; one thread uses an object at a time. Objects are handed to
// other threads by moving them into a push callback or inside a ConsumeStatus.
//
// Ownership: a plain value that owns its bodies and properties. It derives from
// IceUtil::Shared so it can also travel in handles; copies and moves never copy the
// reference count. String getters return references into the object, or to a
// process-lifetime empty string when the value is absent.
#pragma once

#include "KOVACommon.h"

#include <IceUtil/Shared.h>

#include <cstdint>
#include <functional>
#include <string>

namespace KOVAMsg {
struct KOVAMessage;
}

namespace KOVA {

class IMessage : public virtual IceUtil::Shared {
public:
    // `record` points to a KOVAMsg::KOVAMessage. Its four property containers are
    // moved out (do not read them afterwards); its body bytes are copied. A body that
    // cannot be decoded is kept as received and the message reports E_RAW. A null
    // pointer gives an empty raw message.
    explicit IMessage(void* record);
    // Copies everything from `record`, which stays as it is: for records the
    // caller does not own, such as those of a pushed batch. Decoded as above.
    explicit IMessage(const KOVAMsg::KOVAMessage& record);

    IMessage(const IMessage& other);
    IMessage(IMessage&& other) noexcept;
    IMessage& operator=(const IMessage& other);
    IMessage& operator=(IMessage&& other) noexcept;
    virtual ~IMessage();

    COMMON::IEncodingType EType() const { return _etype; }
    // The received "CONTENT_ENCODING" value (also when it could not be used).
    const std::string& ETypeStr() const;
    // The decoded body, or the received bytes for a raw message.
    const std::string& Message() const;
    // The body exactly as received.
    const std::string& RMessage() const { return _rmessage; }

    const std::string& GetProperty(const std::string& key) const;
    const COMMON::KOVAProperties& GetProperties() const { return _properties; }
    const std::string& GetMessageId() const;
    const std::string& GetBornHost() const;
    const std::string& GetTags() const;
    // -1 when the record did not carry the value.
    int64_t GetBornTimestamp() const;
    int64_t GetStoreTimestamp() const;

    // One-line JSON for diagnostics: fixed key order, no blanks, strings unescaped.
    std::string ToString() const;

private:
    struct FromRecord {};
    // What both record constructors share; `Record` is KOVAMsg::KOVAMessage
    // (its containers are moved out) or its const form (they are copied).
    template <typename Record>
    IMessage(Record* record, FromRecord);

    COMMON::IEncodingType _etype;
    COMMON::KOVAProperties _properties;
    std::string _rmessage;
    std::string _message;
    COMMON::INTERANL::kOVAStrProperties _sproperties;
    COMMON::INTERANL::kOVA32IProperties _iproperties;
    COMMON::INTERANL::kOVA64IProperties _lproperties;
};

// Caller's handler of pushed messages: cookie, resource id, session id of the
// server's push call, and the message (moved in). 0 accepts; the first non-zero
// result stops the batch and becomes the reply to the server. It runs on the
// thread that delivers the push (see KOVAPushCallback: the adapter's push pool
// in the shared-connection and router modes, else an Ice server thread), for
// several resources at once; it may call the client synchronously (pause,
// resume, produce, pull). An exception it throws is logged at ERROR and
// answered 99, so the service delivers the batch again.
typedef std::function<int(void*, const std::string&, const std::string&, KOVA::IMessage&&)> PushConsumerCallback;

}  // namespace KOVA
