// Sinks of published envelopes.
#pragma once

#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <optional>
#include <ostream>

#include "wr_raw_data.pb.h"

namespace azm {

// Receives each envelope once, in publishing order. The envelope is the sender's and dies after
// the call: a sink copies what it keeps.
class Publisher {
  public:
    virtual void send_payload(pb::Payload &payload) = 0;
    virtual ~Publisher() = default;
};

// Writes each envelope to a stream as it comes, as the PayloadList field it is in the list's
// encoding (field tag, length, bytes): the bytes written are exactly those of the whole list
// serialised at once, but no more than a block of them is held. A write failure ends the
// writing and leaves the stream failed.
class StreamPublisher : public Publisher {
  public:
    // The stream stays the caller's.
    explicit StreamPublisher(std::ostream &out);
    void send_payload(pb::Payload &payload) override;
    // Passes what is still held on to the stream and flushes it; the stream's state then tells
    // whether everything was written.
    void finish();

  private:
    std::ostream &stream_;
    std::optional<google::protobuf::io::OstreamOutputStream> out_;
};

}  // namespace azm

// Keeps every envelope in memory, for writing them out together once a volume is published.
class DataListPublisher : public azm::Publisher {
  public:
    void send_payload(azm::pb::Payload &payload) override {
        list_.add_payload()->CopyFrom(payload);
    }
    const azm::pb::PayloadList &get() const { return list_; }
    void clear() { list_.Clear(); }

  private:
    azm::pb::PayloadList list_;
};
