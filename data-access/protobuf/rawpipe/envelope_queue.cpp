// EnvelopeQueue: in-order sending with compression on a pool of threads.
#include "envelope_queue.h"

#include <lz4.h>

#include <stdexcept>
#include <system_error>
#include <utility>

namespace azm {

EnvelopeQueue::EnvelopeQueue(Publisher *sink, unsigned threads)
    : sink_(sink), limit_(static_cast<std::size_t>(threads) + 1) {
    if (threads <= 1)
        return;
    try {
        workers_.reserve(threads);
        for (unsigned i = 0; i < threads; ++i)
            workers_.emplace_back([this] { work(); });
    } catch (const std::system_error &) {
        // The system gives no more threads: the output is the same with those started, or with
        // none (the caller's thread compresses), so a volume is never lost for want of one.
    } catch (...) {
        stop();  // the threads already started
        throw;
    }
}

EnvelopeQueue::~EnvelopeQueue() {
    stop();
}

void EnvelopeQueue::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    job_ready_.notify_all();
    for (std::thread &worker : workers_)
        worker.join();
}

std::unique_ptr<EnvelopeQueue::Envelope> EnvelopeQueue::reuse(
    std::vector<std::unique_ptr<Envelope>> &spare) {
    if (spare.empty())
        return std::make_unique<Envelope>();
    std::unique_ptr<Envelope> envelope = std::move(spare.back());
    spare.pop_back();
    envelope->payload.Clear();
    envelope->compress = false;
    envelope->done = envelope->failed = false;
    return envelope;
}

std::unique_ptr<EnvelopeQueue::Envelope> EnvelopeQueue::take() {
    std::unique_ptr<Envelope> envelope = reuse(spare_buffers_);
    envelope->holds_buffers = true;
    return envelope;
}

void EnvelopeQueue::compress(Envelope &envelope) {
    const int size = static_cast<int>(envelope.codes.size());
    std::string &out = *envelope.compressed;
    const int written =
        LZ4_compress_default(envelope.codes.data(), out.data(), size, static_cast<int>(out.size()));
    envelope.failed = written <= 0;
    out.resize(envelope.failed ? 0 : static_cast<std::size_t>(written));
}

void EnvelopeQueue::push(std::unique_ptr<Envelope> envelope) {
    Envelope *queued = envelope.get();
    if (queued->compress) {
        // Sized here, so that the storage comes from this thread's heap and is used again.
        queued->compressed =
            queued->payload.mutable_moment_sweep_data()->mutable_data()->mutable_data();
        queued->compressed->resize(
            static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(queued->codes.size()))));
        if (workers_.empty()) {
            compress(*queued);
            queued->done = true;
        } else {
            ++compressing_;
            const std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(queued);
        }
    }
    order_.push_back(std::move(envelope));
    if (queued->compress && !workers_.empty())
        job_ready_.notify_one();
    // Waiting only once the pool is full keeps the memory in work bounded.
    deliver(limit_ - 1);
}

void EnvelopeQueue::send(pb::Payload &payload) {
    if (order_.empty()) {
        sink_->send_payload(payload);
        return;
    }
    std::unique_ptr<Envelope> envelope = reuse(spare_copies_);
    envelope->payload.CopyFrom(payload);
    order_.push_back(std::move(envelope));
}

void EnvelopeQueue::flush() {
    deliver(0);
}

void EnvelopeQueue::deliver(std::size_t wait_for) {
    while (!order_.empty()) {
        Envelope &head = *order_.front();
        if (head.compress && !workers_.empty()) {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!head.done) {
                if (compressing_ <= wait_for)
                    return;
                job_done_.wait(lock, [&] { return head.done; });
            }
        }
        if (head.failed)
            throw std::runtime_error("LZ4 compression failed");
        if (head.compress && !workers_.empty())
            --compressing_;
        sink_->send_payload(head.payload);
        (head.holds_buffers ? spare_buffers_ : spare_copies_).push_back(std::move(order_.front()));
        order_.pop_front();
    }
}

void EnvelopeQueue::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        job_ready_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_)
            return;
        Envelope *job = jobs_.front();
        jobs_.pop_front();
        lock.unlock();
        compress(*job);
        lock.lock();
        job->done = true;
        job_done_.notify_all();
    }
}

}  // namespace azm
