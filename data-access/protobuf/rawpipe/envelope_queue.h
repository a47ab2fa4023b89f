// Envelopes sent in publishing order, the sweep buffers among them compressed on a small pool of
// threads.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "publisher.h"

namespace azm {

// Takes envelopes in publishing order and hands them to the sink in that order, on the thread
// that pushes them. An envelope may carry a buffer of codes to compress first (one LZ4 block);
// independent buffers are compressed at once on the pool's threads, so the bytes sent are the
// same whatever their number. The sink sees an envelope only when those before it were sent.
// Envelopes are used again with their storage, so that a volume's sweeps need no new buffers.
class EnvelopeQueue {
  public:
    struct Envelope {
        pb::Payload payload;
        // Codes to compress into the payload's moment sweep data, when compress is set.
        std::string codes;
        bool compress = false;

      private:
        friend class EnvelopeQueue;
        std::string *compressed = nullptr;
        bool holds_buffers = false;  // taken for a sweep buffer: kept for the next one
        bool done = false;
        bool failed = false;
    };

    // One thread compresses on the caller's thread and starts none. At most one buffer more
    // than there are threads waits for compression at a time.
    EnvelopeQueue(Publisher *sink, unsigned threads);
    // Drops what was not sent; waits for the buffers in work.
    ~EnvelopeQueue();
    EnvelopeQueue(const EnvelopeQueue &) = delete;
    EnvelopeQueue &operator=(const EnvelopeQueue &) = delete;

    // A cleared envelope to fill, with the storage of one sent before when there is one.
    std::unique_ptr<Envelope> take();
    // Queues the envelope after those before it and sends what is ready. Throws
    // std::runtime_error "LZ4 compression failed" for a buffer that could not be compressed,
    // once everything queued before it was sent; it and what follows it are dropped.
    void push(std::unique_ptr<Envelope> envelope);
    // Queues a copy of a ready envelope (sent at once when nothing waits before it).
    void send(pb::Payload &payload);
    // Sends everything queued, waiting for the compression. Throws as push.
    void flush();

  private:
    void work();
    // Ends and joins the threads; buffers not yet given to one are dropped.
    void stop();
    // Sends from the head what is ready; with wait_for, waits until at most that many buffers
    // are still to compress.
    void deliver(std::size_t wait_for);
    static void compress(Envelope &envelope);
    static std::unique_ptr<Envelope> reuse(std::vector<std::unique_ptr<Envelope>> &spare);

    Publisher *sink_;
    std::deque<std::unique_ptr<Envelope>> order_;  // queued, in publishing order
    // Sent envelopes, to be used again: those that held sweep buffers apart from the small
    // copies, so that only as many large buffers exist as are in work at a time.
    std::vector<std::unique_ptr<Envelope>> spare_buffers_, spare_copies_;
    std::size_t compressing_ = 0;  // queued envelopes with a buffer to compress
    std::size_t limit_;

    std::mutex mutex_;  // guards jobs_, stopping_ and the done flags
    std::condition_variable job_ready_, job_done_;
    std::deque<Envelope *> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace azm
