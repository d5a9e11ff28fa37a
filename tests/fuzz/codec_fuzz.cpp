// Fuzzes what a consumer decodes from the network: the gzip, LZ4 and zstd body
// decoders, and IMessage construction from a received batch in Ice's wire form.
//
// The first byte chooses the road (its value modulo 4): 0 gzip, 1 LZ4, 2 zstd (the
// rest is a body), 3 a KOVABatchMessage (the rest is its 1.1 encoding). An LZ4 body
// must decode, or fail, as LZ4F_decompress decodes it. A gzip body that zlib's inflate
// decodes must decode to the same bytes; one that zlib refuses for a rule Boost's gzip
// reader leaves unchecked (reserved flags, the header checksum, ISIZE) must decode, or
// fail, as a reader that leaves those unchecked too decodes it; any other refusal must
// be ours too. A body that decodes must come back unchanged through our own encoder
// and decoder.
#include <Ice/InputStream.h>
#include <KOVAMessage.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KOVACommon.h"
#include "KOVAIMessage.h"
#include "KOVALog.h"
#include "PublicTools.h"
#include "reference_decoders.h"

namespace {

const int kCodecs[] = {KOVA::COMMON::E_GZIP, KOVA::COMMON::E_LZ4, KOVA::COMMON::E_ZSTD};

void CheckRoundTrip(int ce, const std::string& decoded) {
    std::string encoded, again;
    if (!TQPublicTool::EncodeContent(ce, decoded, encoded) || !TQPublicTool::DecodeContent(ce, encoded, again) ||
        again != decoded) {
        fprintf(stderr, "codec %d: a decoded body of %zu bytes does not survive a round trip\n", ce, decoded.size());
        abort();
    }
}

// zlib's words for the rules it checks and Boost's gzip reader does not.
bool OnlyZlibChecks(const std::string& refusal) {
    return refusal == "unknown header flags set" || refusal == "header crc mismatch" ||
           refusal == "incorrect length check";
}

// Whether the library's own decoder agrees with ours on `body`.
bool AgreesWithReference(int ce, const std::string& body, bool decodes, const std::string& decoded) {
    std::string reference, refusal;
    if (ce == KOVA::COMMON::E_LZ4) {
        const bool ok = kova::test::codecs::Lz4FrameApiDecode(body, reference);
        return ok == decodes && (!ok || reference == decoded);
    }
    if (ce != KOVA::COMMON::E_GZIP) return true;
    if (kova::test::codecs::ZlibGunzip(body, reference, refusal)) return decodes && reference == decoded;
    const bool ok = OnlyZlibChecks(refusal) && kova::test::codecs::LenientGunzip(body, reference);
    return ok == decodes && (!ok || reference == decoded);
}

void FuzzBody(int ce, const std::string& body) {
    std::string decoded;
    const bool decodes = TQPublicTool::DecodeContent(ce, body, decoded);
    if (!AgreesWithReference(ce, body, decodes, decoded)) {
        fprintf(stderr, "codec %d: a body of %zu bytes decodes otherwise than the library's own decoder (ours %s)\n",
                ce, body.size(), decodes ? "decodes it" : "refuses it");
        abort();
    }
    if (decodes) CheckRoundTrip(ce, decoded);
}

// Ice 3.7.8 checks a sequence's claimed count against the bytes left only after
// multiplying it by the element's wire size in 32 bits, so a forged count can pass and
// make the reader allocate gigabytes before it fails (with bad_alloc in a real
// dispatch). That flaw is Ice's, not ours: the record is read here with Ice's readers,
// each count checked first in 64 bits.
bool ReadCount(Ice::InputStream& in, size_t minWireSize, size_t& count) {
    count = static_cast<size_t>(in.readSize());
    return count * minWireSize <= static_cast<size_t>(in.b.end() - in.i);
}

template <typename T>
bool ReadSequence(Ice::InputStream& in, size_t minWireSize, std::vector<T>& out) {
    size_t count = 0;
    if (!ReadCount(in, minWireSize, count)) return false;
    out.resize(count);
    for (T& item : out) in.read(item);
    return true;
}

bool ReadRecord(Ice::InputStream& in, KOVAMsg::KOVAMessage& record) {
    size_t properties = 0;
    if (!ReadCount(in, 2, properties)) return false;
    for (size_t k = 0; k < properties; ++k) {
        std::string key;
        in.read(key);
        in.read(record.properties[key]);
    }
    return ReadSequence(in, 1, record.s_properties) && ReadSequence(in, 4, record.i_properties) &&
           ReadSequence(in, 8, record.l_properties) && ReadSequence(in, 1, record.message);
}

// A KOVABatchMessage in the 1.1 encoding, as a push or a pull reply carries it.
void FuzzBatch(const uint8_t* data, size_t size) {
    KOVAMsg::KOVABatchMessage batch;
    try {
        Ice::InputStream in(
            std::make_pair(reinterpret_cast<const Ice::Byte*>(data), reinterpret_cast<const Ice::Byte*>(data + size)));
        size_t count = 0;
        if (!ReadCount(in, 5, count)) return;
        batch.resize(count);
        for (KOVAMsg::KOVAMessage& record : batch) {
            if (!ReadRecord(in, record)) return;
        }
    } catch (const Ice::Exception&) {
        return;  // not a batch: Ice refuses it before we see it
    }
    for (const KOVAMsg::KOVAMessage& record : batch) {
        KOVA::IMessage message(record);
        if (message.EType() != KOVA::COMMON::E_RAW) CheckRoundTrip(message.EType(), message.Message());
        (void)message.ToString();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The LZ4 codec prints its failures on standard output, and every codec failure
    // would otherwise be logged to a file: both would only slow the fuzzer down.
    if (!freopen("/dev/null", "w", stdout)) return 1;
    TQPublicTool::KOVALog::getLogInstance("/tmp", "", "kova-fuzz")
        ->setLogLevel(static_cast<KOVA::COMMON::elogLevel>(0));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int road = data[0] % 4;
    if (road == 3) {
        FuzzBatch(data + 1, size - 1);
    } else {
        FuzzBody(kCodecs[road], std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    }
    return 0;
}
