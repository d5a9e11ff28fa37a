// For callers (included by KOVAClientLib.h).
// KOVA::OMessage: one message to produce: body, encoding type, properties and the
// time it was made. The producing conversion only reads it.
//
// Thread safety: none; one thread uses an object at a time.
//
// Ownership: a plain value that owns its body and properties. It derives from
// IceUtil::Shared so it can also travel in handles; copies and moves never copy the
// reference count. String getters return references into the object, or to a
// process-lifetime empty string when the value is absent.
#pragma once

#include "KOVACommon.h"

#include <IceUtil/Shared.h>

#include <cstdint>
#include <functional>
#include <string>

namespace KOVA {

class OMessage : public virtual IceUtil::Shared {
public:
    // Every constructor stamps the born time (milliseconds since the epoch).
    OMessage();
    OMessage(const std::string& message, COMMON::IEncodingType etype);
    // The `len` bytes at `data`, zero bytes included; a null `data` or a negative
    // `len` gives an empty body.
    OMessage(const char* data, int len, COMMON::IEncodingType etype);

    // Copies and moves keep the born time of the source (a copy is not re-stamped).
    OMessage(const OMessage& other);
    OMessage(OMessage&& other) noexcept;
    OMessage& operator=(const OMessage& other);
    OMessage& operator=(OMessage&& other) noexcept;
    virtual ~OMessage();

    // Both leave the body alone when handed the body's own buffer; the pointer form
    // treats a null `data` or a negative `len` as an empty body.
    void SetMessage(const std::string& message);
    void SetMessage(const char* data, int len);
    const std::string& Message() const { return _message; }

    void SetEtype(COMMON::IEncodingType etype) { _etype = etype; }
    COMMON::IEncodingType EType() const { return _etype; }
    int64_t GetBornTimestamp() const { return _bornTimestamp; }

    // Kept among the properties under "__ks0" until the conversion moves it into the
    // record's positional strings.
    void SetMessageId(const std::string& msgid);
    const std::string& GetMessageId() const;
    void SetTags(const std::string& tags);
    const std::string& GetTags() const;

    void SetProperty(const std::string& key, const std::string& property);
    const std::string& GetProperty(const std::string& key) const;
    const COMMON::KOVAProperties& GetProperties() const { return _properties; }

    // Carried and copied only; nothing in the client reads it.
    void SetFailStore(bool store) { _failStore = store; }

private:
    COMMON::IEncodingType _etype;
    int64_t _bornTimestamp;
    COMMON::KOVAProperties _properties;
    std::string _message;
    bool _failStore;
};

// Caller's handler of an asynchronous produce: the result code and the cookie.
typedef std::function<void(int, void*)> AsyncProduceCallback;

}  // namespace KOVA
