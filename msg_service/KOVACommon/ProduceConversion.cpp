#include "ProduceConversion.h"

#include "EncodingNames.h"
#include "PublicTools.h"

#include <iostream>

namespace KOVA {

bool OMessageToKOVAMessage(const OMessage& omsg, KOVAMsg::KOVAMessage& kovaMsg) {
    kovaMsg.properties = omsg.GetProperties();
    kovaMsg.l_properties.push_back(omsg.GetBornTimestamp());

    const std::string& msgid = omsg.GetMessageId();
    if (!msgid.empty()) {
        kovaMsg.properties.erase(KOVAMsg::kovasMsgidProperty);
        kovaMsg.s_properties.push_back(msgid);
    }

    const int etype = omsg.EType();
    if (const std::string* encodingName = ContentEncodingName(etype)) {
        kovaMsg.properties[KOVAMsg::kovasEncodingProperty] = *encodingName;
    }

    const std::string& body = omsg.Message();
    if (!IsClientCompressed(etype)) {
        kovaMsg.message.assign(body.begin(), body.end());
        return true;
    }
    std::string compressed;
    if (!TQPublicTool::EncodeContent(etype, body, compressed)) {
        // The facade reports the whole produce as failed; the logger is not used here
        // so a conversion failure never depends on the log configuration.
        std::cerr << "Encode msg failed, msgid:" << msgid << ", msgsize:" << body.size() << std::endl;
        return false;
    }
    kovaMsg.message.assign(compressed.begin(), compressed.end());
    return true;
}

}  // namespace KOVA
