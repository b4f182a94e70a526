// The adapter's bus error flags (0x08 stuff, 0x04 CRC, 0x02 form, 0x01 ack) as a Linux SocketCAN error
// frame, and back: the log writes error frames this way, the bus mirror and the emulator's bridge send and
// read them this way, and a log read back gives the flags it was written from.
//
//   01 -> CAN_ERR_FLAG | CAN_ERR_BUSERROR | CAN_ERR_ACK, data 00 00 00 00 00 00 00 00
//   0C -> CAN_ERR_FLAG | CAN_ERR_BUSERROR | CAN_ERR_PROT, data 00 00 04 08 00 00 00 00
//         (data[2] CAN_ERR_PROT_STUFF, data[3] CAN_ERR_PROT_LOC_CRC_SEQ)
// Flags 0 still make a frame (bus error, no detail): the adapter did report something.
#pragma once

#include <cstdint>

struct ErrorFrame {
    uint32_t canId = 0;  // CAN_ERR_FLAG included
    uint8_t data[8] = {};
};

ErrorFrame ErrorFrameOf(uint8_t flags);

// The other way: ack from CAN_ERR_ACK; form, stuff and CRC (sequence or delimiter) from CAN_ERR_PROT's
// detail; 0 for what the adapter never reports. FlagsOfErrorFrame(ErrorFrameOf(f)) == f for f of 00..0F.
uint8_t FlagsOfErrorFrame(uint32_t canId, const uint8_t (&data)[8]);
