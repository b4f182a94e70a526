#include "ErrorFrame.h"

#include <linux/can.h>
#include <linux/can/error.h>

#include "Frame.h"  // buserror

using namespace buserror;

ErrorFrame ErrorFrameOf(uint8_t flags) {
    ErrorFrame e;
    e.canId = CAN_ERR_FLAG | CAN_ERR_BUSERROR;
    if (flags & AckBit) e.canId |= CAN_ERR_ACK;
    if (flags & (FormBit | StuffBit | CrcBit)) e.canId |= CAN_ERR_PROT;
    if (flags & FormBit) e.data[2] |= CAN_ERR_PROT_FORM;
    if (flags & StuffBit) e.data[2] |= CAN_ERR_PROT_STUFF;
    if (flags & CrcBit) e.data[3] = CAN_ERR_PROT_LOC_CRC_SEQ;
    return e;
}

uint8_t FlagsOfErrorFrame(uint32_t canId, const uint8_t (&data)[8]) {
    uint8_t flags = 0;
    if (canId & CAN_ERR_ACK) flags |= AckBit;
    if (canId & CAN_ERR_PROT) {
        if (data[2] & CAN_ERR_PROT_FORM) flags |= FormBit;
        if (data[2] & CAN_ERR_PROT_STUFF) flags |= StuffBit;
        if (data[3] == CAN_ERR_PROT_LOC_CRC_SEQ || data[3] == CAN_ERR_PROT_LOC_CRC_DEL) flags |= CrcBit;
    }
    return flags;
}
