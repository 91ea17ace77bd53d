// Writes that a protocol hands to the thread that filled its buffer, to be done after the owner
// of the protocol has let go of its lock: a buffered file protocol of the logger core sends a
// full write buffer to the system this way, outside the core lock, while other threads go on
// filling the next buffer under it.
//
// The owner opens a TSiDeferredWrites scope on its thread before it takes its lock and runs it
// (Run, or the scope's end) once it has let go. A protocol that finds its buffer full while a
// scope is open hands the buffer to the scope (Defer) holding a write lock of its own, which the
// deferred write lets go: its next write to the system (the next full buffer, a flush, closing)
// takes that lock first, so the file keeps the order in which the buffers were filled. Without
// an open scope a protocol writes at once, as before.
//
// Thread safety: each thread has its own scope and its own pending write (at most one: a second
// hand-off, or a protocol that must write at once, first runs the pending one on the spot, so a
// thread never waits for a write lock that it holds itself).
#pragma once

namespace deruz::logging {

// A protocol whose write can be deferred.
class TSiDeferredWriter {
  public:
    // Does the handed-off write and lets go of the writer's write lock; errors are kept for the
    // writer's next operation under its owner's lock.
    virtual void RunDeferredWrite() noexcept = 0;

  protected:
    ~TSiDeferredWriter() = default;
};

class TSiDeferredWrites {
  public:
    TSiDeferredWrites() noexcept;
    // Runs what is still pending.
    ~TSiDeferredWrites();
    TSiDeferredWrites(const TSiDeferredWrites&) = delete;
    TSiDeferredWrites& operator=(const TSiDeferredWrites&) = delete;

    // Runs this thread's pending write, if any.
    static void Run() noexcept;
    // Makes AWriter's write this thread's pending write, running a pending one first; false
    // (nothing pending) when no scope is open on this thread: the writer then writes at once.
    static bool Defer(TSiDeferredWriter& AWriter) noexcept;
};

}  // namespace deruz::logging
