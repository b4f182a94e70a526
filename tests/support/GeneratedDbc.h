// A DBC of many messages, for the loading test and the benchmarks: 8-byte messages, half 11-bit and half
// 29-bit, each with a multiplexer, two multiplexed signals, Intel and Motorola, signed, scaled and 1-bit
// signals, a value table and comments, and the attribute sections a real file has.
#pragma once

#include <string>

inline std::string GeneratedDbc(int messages) {
    std::string t = "VERSION \"generated\"\n\nNS_ :\n\tCM_\n\tBA_DEF_\n\tVAL_\n\nBS_:\n\nBU_: ECU DASH\n\n";
    for (int i = 0; i < messages; ++i) {
        const unsigned long id = i % 2 ? 0x80000000ul + 0x18F00000ul + i : 0x100ul + i / 2;
        t += "BO_ " + std::to_string(id) + " Message" + std::to_string(i) + ": 8 ECU\n"
             " SG_ Mode M : 0|4@1+ (1,0) [0|15] \"\" DASH\n"
             " SG_ Volts m0 : 4|12@1+ (0.1,0) [0|400] \"V\" DASH\n"
             " SG_ Temp m1 : 4|12@1- (1,-20) [-100|100] \"degC\" DASH\n"
             " SG_ Speed : 23|16@0+ (0.01,0) [0|300] \"km/h\" DASH\n"
             " SG_ Torque : 39|12@0- (0.5,0) [-500|500] \"Nm\" DASH\n"
             " SG_ Gear : 40|3@1+ (1,0) [0|7] \"\" DASH\n"
             " SG_ Flag : 43|1@1+ (1,0) [0|1] \"\" DASH\n"
             " SG_ Counter : 48|8@1+ (1,0) [0|255] \"\" DASH\n"
             " SG_ Check : 63|8@0+ (1,0) [0|255] \"\" DASH\n\n";
    }
    t += "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 10000;\nBA_DEF_DEF_ \"GenMsgCycleTime\" 100;\n";
    for (int i = 0; i < messages; ++i) {
        const std::string id = std::to_string(i % 2 ? 0x80000000ul + 0x18F00000ul + i : 0x100ul + i / 2);
        t += "CM_ SG_ " + id + " Speed \"Vehicle speed,\r\nmeasured at the \\\"wheels\\\"\";\n";
        t += "VAL_ " + id + " Gear 0 \"Park\" 1 \"Reverse\" 2 \"Neutral\" 3 \"Drive\" ;\n";
    }
    return t;
}
