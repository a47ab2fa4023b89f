// Sinks of published envelopes.
#pragma once

#include <google/protobuf/io/zero_copy_stream_impl.h>

#include <string>

#include "wr_raw_data.pb.h"

namespace azm {

// Receives each envelope once, in publishing order. The envelope is the sender's and dies after
// the call: a sink copies what it keeps.
class Publisher {
  public:
    virtual void send_payload(pb::Payload &payload) = 0;
    virtual ~Publisher() = default;
};

// Writes each envelope to a file descriptor as it comes, as the PayloadList field it is in the
// list's encoding (field tag, length, bytes): the bytes written are exactly those of the whole
// list serialised at once, but no more than a block of them is held. A write failure ends the
// writing; finish() reports it.
class StreamPublisher : public Publisher {
  public:
    // `fd` stays the caller's; `name` ("out.pb", "standard output") is for messages.
    StreamPublisher(int fd, std::string name);
    void send_payload(pb::Payload &payload) override;
    // Writes what is still held. Throws std::runtime_error "cannot write NAME: reason" when any
    // write failed.
    void finish();

  private:
    google::protobuf::io::FileOutputStream out_;
    std::string name_;
    bool failed_ = false;
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
