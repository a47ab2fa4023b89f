// Sinks of published envelopes.
#pragma once

#include "wr_raw_data.pb.h"

namespace azm {

// Receives each envelope once, in publishing order. The envelope is the sender's and dies after
// the call: a sink copies what it keeps.
class Publisher {
  public:
    virtual void send_payload(pb::Payload &payload) = 0;
    virtual ~Publisher() = default;
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
