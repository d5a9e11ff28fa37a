// For callers of the server toolkit (kova_toolkit).
// CCmdName: printable names of the protocol's command numbers, for log lines.
//
// Thread safety: immutable once built; any thread may read it. The process-wide
// instance is Tools::cmdName, which is constant-initialised, so it is complete even
// for code that runs during other units' static initialisation.
// Ownership: the names are string literals; the table owns nothing.
#pragma once

class CCmdName {
public:
    static constexpr int kSlots = 256;

    constexpr CCmdName() : cmdName{} {
        cmdName[0] = "VX_REG";
        cmdName[1] = "VX_LOGIN";
        cmdName[2] = "VX_HB";
        cmdName[3] = "VX_PSHMSG";
        cmdName[4] = "VX_RCVMSG";
        cmdName[5] = "VX_LOGOUT";
        cmdName[6] = "VX_GETCHNID";
        cmdName[7] = "VX_DECCHNID";
        cmdName[8] = "VX_RPT";
        cmdName[9] = "VX_PSHMSGN";
        cmdName[10] = "VX_TAGALIAS";
        cmdName[11] = "VX_ENABLECHNID";
        cmdName[12] = "VX_PSHTIME";
        cmdName[13] = "VX_RPTDTOKEN";
        cmdName[14] = "VX_UNREGCHNID";
        cmdName[16] = "VX_GETREGID";
        cmdName[17] = "VX_DELREGID";
        cmdName[18] = "VX_GETMSG";
        cmdName[19] = "VX_ACK";
        cmdName[22] = "VX_RPTIDFA";
        cmdName[25] = "VX_CTRLSDK";
    }

    // The name of command `cmd`; "VX_UNKNOWN" outside 0..255 and for unnamed numbers.
    const char* GetCmdName(int cmd) const;

private:
    const char* cmdName[kSlots];
};
