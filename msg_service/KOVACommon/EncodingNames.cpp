#include "EncodingNames.h"

#include <KOVAMessage.h>

namespace KOVA {

const std::string* ContentEncodingName(int etype) {
    switch (etype) {
        case COMMON::E_GZIP:
        case COMMON::E_TGZIP: return &KOVAMsg::kovasGZIPProperty;
        case COMMON::E_LZ4:
        case COMMON::E_TLZ4: return &KOVAMsg::kovasLZ4Property;
        case COMMON::E_ZSTD:
        case COMMON::E_TZSTD: return &KOVAMsg::kovasZSTDProperty;
        default: return nullptr;
    }
}

bool IsClientCompressed(int etype) {
    return etype == COMMON::E_GZIP || etype == COMMON::E_LZ4 || etype == COMMON::E_ZSTD;
}

bool EncodingTypeFromName(const std::string& name, COMMON::IEncodingType& etype) {
    if (name == KOVAMsg::kovasGZIPProperty) {
        etype = COMMON::E_GZIP;
    } else if (name == KOVAMsg::kovasLZ4Property) {
        etype = COMMON::E_LZ4;
    } else if (name == KOVAMsg::kovasZSTDProperty) {
        etype = COMMON::E_ZSTD;
    } else {
        etype = COMMON::E_RAW;
        return false;
    }
    return true;
}

}  // namespace KOVA
