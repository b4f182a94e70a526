// The receive path on arbitrary reads: SaveMessage, TakeMessage and DecodeMessage against a plain
// model of the cutting rules.
//
// Input: a series of reads. Each starts with a control byte and a two-byte size (0..32768): bit 0 of
// the control byte leaves the queue full after this read instead of emptying it, as a stuck reader
// would; the read's bytes follow (fewer when the input ends). Each read is passed in a buffer of its
// own exact size, so a look past its end is caught.
//
// Checked: every frame comes out whole, in stream order, exactly as the model cuts it, with zeros
// past its end and never longer than 262 bytes; the carry and the counts match the model; frames the
// full queue could not take are counted, not written anywhere; the decoder reports only intact frames
// with a possible time of day and a command type within the status texts.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "Decode.h"
#include "FuzzCheck.h"
#include "Reassembly.h"
#include "unitMy.h"

namespace {

using namespace reassembly;
using Bytes = std::vector<uint8_t>;

// Whether a frame could begin at b[p] with the bytes that follow it in b: a start byte, then a start
// pair, then a length that reaches past the end of b (or a whole frame).
bool CouldBegin(const Bytes &b, std::size_t p) {
    const std::size_t left = b.size() - p;
    if (b[p] != 0xFA) return false;
    if (left >= 2 && b[p + 1] != 0xF5) return false;
    if (left < 4) return true;
    const std::size_t total = b[p + 3] + 7u;
    return total > left || (b[p + total - 2] == 0xAF && b[p + total - 1] == 0x5F);
}

// The cutting rules, written the slow and obvious way.
struct Model {
    Bytes carry;
    std::deque<Bytes> queue;
    long dropped = 0;

    void Save(const uint8_t *data, std::size_t count) {
        // A carry over 1000 bytes keeps only its bytes from the first place in its last 261 where a
        // frame could begin.
        if (carry.size() > static_cast<std::size_t>(CarryDropLimit)) {
            std::size_t from = carry.size();
            for (std::size_t p = carry.size() - (frame::MaxFrame - 1); p < carry.size(); ++p)
                if (CouldBegin(carry, p)) {
                    from = p;
                    break;
                }
            carry.erase(carry.begin(), carry.begin() + static_cast<long>(from));
        }
        Bytes work = carry;
        work.insert(work.end(), data, data + count);
        std::size_t p = 0, lastEnd = 0;
        while (p < work.size()) {
            if (p + 7 <= work.size() && work[p] == 0xFA && work[p + 1] == 0xF5) {
                const std::size_t total = work[p + 3] + 7u;
                if (p + total <= work.size() && work[p + total - 2] == 0xAF && work[p + total - 1] == 0x5F) {
                    if (queue.size() < QueueCapacity)
                        queue.emplace_back(work.begin() + static_cast<long>(p),
                                           work.begin() + static_cast<long>(p + total));
                    else
                        ++dropped;
                    p += total;
                    lastEnd = p;
                    continue;
                }
            }
            ++p;
        }
        carry.assign(work.begin() + static_cast<long>(lastEnd), work.end());
    }
};

// Decodes one frame and checks what came out; 1 when it made an event, else 0.
int DecodeChecked(const FrameBuffer &msg, bool paused) {
    BusEvent e;
    const Decoded result = DecodeMessage(msg, paused, e);
    if (result != Decoded::Event) return 0;
    switch (e.kind) {
        case BusEvent::Kind::Frame:
            FUZZ_CHECK(e.adapterMs >= 0 && e.adapterMs < BusEvent::MsPerDay);
            FUZZ_CHECK(e.id <= (e.extended ? 0x1FFFFFFFu : 0x7FFu));
            FUZZ_CHECK(e.dlc <= 15 && e.DataLength() <= 8);
            break;
        case BusEvent::Kind::BusError: break;
        case BusEvent::Kind::CommandReport: FUZZ_CHECK(e.reportType < StatusTexts.size()); break;
    }
    return 1;
}

bool Intact(const Bytes &f) {
    uint8_t sum = 0;
    for (std::size_t i = 2; i + 2 < f.size(); ++i) sum ^= f[i];  // bytes 2 .. L + 4
    return f[0] == 0xFA && f[1] == 0xF5 && sum == 0;
}

// One frame out of the queue against the model's next one, then through the decoder.
void TakeAndCheck(Reassembly &r, Model &m) {
    struct Slot {
        FrameBuffer bytes;
    };
    auto slot = std::make_unique<Slot>();  // on the heap, so a write past the buffer is caught
    FrameBuffer *msg = &slot->bytes;
    std::memset(*msg, 0xCC, sizeof *msg);
    FUZZ_CHECK(r.TakeMessage(*msg));
    FUZZ_CHECK(!m.queue.empty());
    const Bytes expected = m.queue.front();
    m.queue.pop_front();
    FUZZ_CHECK(expected.size() <= frame::MaxFrame);
    FUZZ_CHECK(std::memcmp(*msg, expected.data(), expected.size()) == 0);
    for (std::size_t i = expected.size(); i < FrameBufferSize; ++i) FUZZ_CHECK((*msg)[i] == 0);

    const int events = DecodeChecked(*msg, false);
    if (!Intact(expected)) FUZZ_CHECK(events == 0);
    if (Intact(expected) && expected[2] != 11 && expected[2] != 12 && expected[2] <= 13) FUZZ_CHECK(events == 1);
    if (expected[2] == 11 || expected[2] == 12) FUZZ_CHECK(DecodeChecked(*msg, true) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    static Reassembly *r = new Reassembly;  // 1.3 MB: once, and back to the start state per input
    r->Reset();
    Model m;
    std::size_t at = 0;
    while (at + 3 <= size) {
        const uint8_t control = data[at];
        const std::size_t asked = (std::size_t{data[at + 1]} << 8 | data[at + 2]) % (MaxReadSize + 1);
        at += 3;
        const std::size_t n = std::min(asked, size - at);
        const Bytes read(data + at, data + at + n);
        at += n;

        r->SaveMessage(read.empty() ? nullptr : read.data(), static_cast<int>(n));
        m.Save(read.data(), n);
        FUZZ_CHECK(r->FrameQueueCount == static_cast<int>(m.queue.size()));
        FUZZ_CHECK(r->FrameQueueCount <= static_cast<int>(QueueCapacity));
        FUZZ_CHECK(r->DroppedFrames == m.dropped);
        FUZZ_CHECK(r->CarryCount >= 0 && r->CarryCount <= static_cast<int>(CarryBufferSize));
        FUZZ_CHECK(static_cast<std::size_t>(r->CarryCount) == std::min(m.carry.size(), CarryBufferSize));
        if (!m.carry.empty() && m.carry.size() <= CarryBufferSize)
            FUZZ_CHECK(std::memcmp(r->CarryBuffer, m.carry.data(), m.carry.size()) == 0);
        if (!(control & 1))
            while (!m.queue.empty()) TakeAndCheck(*r, m);
    }
    while (!m.queue.empty()) TakeAndCheck(*r, m);
    FrameBuffer spare;
    FUZZ_CHECK(!r->TakeMessage(spare));
    return 0;
}
