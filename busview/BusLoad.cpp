#include "BusLoad.h"

#include <algorithm>

namespace busview {

void LoadMeter::AddFrame(int64_t arrivalUs, int bits) {
    Bucket &bucket = Current(arrivalUs);
    bucket.bits += bits;
    ++bucket.frames;
}

void LoadMeter::AddError(int64_t arrivalUs) { ++Current(arrivalUs).errors; }

LoadMeter::Bucket &LoadMeter::Current(int64_t atUs) {
    Advance(atUs);
    return Slot(current_);
}

void LoadMeter::Advance(int64_t nowUs) {
    const int64_t bucket = std::max<int64_t>(nowUs, 0) / BucketUs;
    if (current_ < 0) current_ = bucket;
    // Once Ring buckets have been closed every slot is empty: further ones change nothing.
    for (int closed = 0; current_ < bucket && closed < Ring; ++closed) {
        // The second that ends with the bucket being closed: every slot but the oldest one.
        peakBits_ = std::max(peakBits_, WindowBits() - Slot(current_ + 1).bits + Slot(current_).bits);
        ++current_;
        Slot(current_) = {};
    }
    current_ = std::max(current_, bucket);
}

int64_t LoadMeter::WindowBits() const {
    int64_t bits = 0;
    for (int64_t b = current_ - WindowBuckets; b < current_; ++b)
        if (b >= 0) bits += Slot(b).bits;
    return bits;
}

LoadFigures LoadMeter::Figures() const {
    LoadFigures figures;
    for (int64_t b = current_ - WindowBuckets; b < current_; ++b) {
        if (b < 0) continue;
        figures.bits += Slot(b).bits;
        figures.frames += Slot(b).frames;
        figures.errors += Slot(b).errors;
    }
    figures.peakBits = std::max(peakBits_, figures.bits);
    return figures;
}

void LoadMeter::ClearPeak() { peakBits_ = WindowBits(); }

}  // namespace busview
