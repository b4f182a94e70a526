// The error frames the log writes mean, to the bus bridge, the flags they came from: the bridge reads
// SocketCAN error frames back into the adapter's flags, so the two mappings must agree.
#include <gtest/gtest.h>
#include <linux/can.h>
#include <linux/can/error.h>

#include <QCanBusFrame>

#include "CandumpLine.h"
#include "QtCanBusPort.h"

TEST(TraceErrorFrames, ReadBackByTheBusBridgeGiveTheSameFlags) {
    for (int flags = 0; flags <= 0x0F; ++flags) {
        const candump::ErrorFrame e = candump::ErrorFrameOf(static_cast<uint8_t>(flags));
        // As Qt's socketcan plugin turns a kernel error frame into a QCanBusFrame.
        QCanBusFrame frame(QCanBusFrame::ErrorFrame);
        frame.setError(QCanBusFrame::FrameErrors(e.canId & CAN_ERR_MASK));
        frame.setPayload(QByteArray(reinterpret_cast<const char *>(e.data), sizeof e.data));
        EXPECT_EQ(ErrorFlagsOf(frame), flags) << "flags " << flags;
    }
}
