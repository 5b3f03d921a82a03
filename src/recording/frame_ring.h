#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include <opencv2/core.hpp>

// The hand-over between a recording's grab stage and its encode stage: a small fixed set of
// frame buffers and the order in which grabbed frames and repeat frames go into the file.
//
// A slot is free, being filled (grab side), queued, being encoded (encode side), or kept as
// the reference: the last queued grab, which the grab side compares the next grab with. Only
// the side that holds a slot touches its pixels; the reference is only read. The slots' pixel
// memory is kept from one recording to the next and reallocated only when the frame size
// changes, so a recording allocates nothing per frame.
//
// One mutex guards the state; it is a leaf lock (nothing else is locked or called while it is
// held) and the pixels are never touched under it.
class CFrameRing {
public:
    static constexpr int kSlotCount = 3;
    using Clock = std::chrono::steady_clock;

    // What the encode side does next: `repeats` repeat frames, then the frame in `slot`
    // (none when -1).
    struct Item {
        int64_t repeats = 0;
        int slot = -1;
    };

    // Empties the queue and clears the stop and halt flags, before a recording.
    void Reset();
    cv::Mat& Pixels(int slot) { return m_slots[slot].pixels; }
    const cv::Mat& Pixels(int slot) const { return m_slots[slot].pixels; }

    // --- grab side ---
    // Waits until `until` or a stop; true when the recording is to stop.
    bool WaitForStop(Clock::time_point until);
    // A free slot to fill, waiting for one if needed; -1 when the recording is to stop first,
    // unless nothing has been queued yet (the first picture is grabbed even then).
    int AcquireFree();
    // Queues a filled slot as the next frame; it becomes the reference.
    void Publish(int slot);
    // Gives back a slot that was filled but is not to be encoded (the same picture again).
    void Discard(int slot);
    // Queues `count` repeat frames after everything queued so far.
    void PublishRepeats(int64_t count);
    // The reference slot, or -1 when nothing has been queued since the Reset.
    int Reference() const;
    // Nothing more will be queued: the encode side stops once the queue is empty.
    void FinishGrabbing();

    // --- encode side ---
    // Waits for the next item; false when grabbing has finished and the queue is empty.
    bool Take(Item* item);
    // The encode side is done with a taken slot (it may keep one past its encoding).
    void Release(int slot);
    // The encode side cannot go on: the grab side stops (as if asked to) and queues nothing.
    void Halt();

    // --- any thread ---
    void RequestStop();

private:
    enum class State { kFree, kFilling, kQueued, kEncoding };
    struct Slot {
        cv::Mat pixels;
        State state = State::kFree;
        int64_t repeatsBefore = 0;  // repeat frames that go into the file before this frame
    };
    bool IsReusable(int slot) const;
    bool RefusesGrabs() const;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    Slot m_slots[kSlotCount];
    int m_queue[kSlotCount] = {};  // queued slots, oldest first, from m_queueHead
    int m_queueHead = 0;
    int m_queueLength = 0;
    int64_t m_trailingRepeats = 0;  // repeat frames after the newest queued frame
    int m_reference = -1;
    bool m_bStop = false;
    bool m_bHalted = false;
    bool m_bGrabbingFinished = false;
};
