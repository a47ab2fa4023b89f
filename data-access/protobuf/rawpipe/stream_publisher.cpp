// StreamPublisher: envelopes written one by one in the encoding of the list they form.
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>

#include <limits>
#include <stdexcept>

#include "publisher.h"

namespace azm {

namespace {

using google::protobuf::internal::WireFormatLite;

// Large blocks keep the writes few; the sweep buffers pass through in a handful each.
constexpr int kBlockBytes = 256 * 1024;

constexpr std::uint32_t kPayloadTag = WireFormatLite::MakeTag(
    pb::PayloadList::kPayloadFieldNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);

}  // namespace

StreamPublisher::StreamPublisher(std::ostream &out) : stream_(out) {
    out_.emplace(&out, kBlockBytes);
}

void StreamPublisher::send_payload(pb::Payload &payload) {
    if (!out_ || !stream_)
        return;
    const std::size_t size = payload.ByteSizeLong();
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::runtime_error("envelope too large to serialise");
    google::protobuf::io::CodedOutputStream coded(&*out_);
    coded.WriteVarint32(kPayloadTag);
    coded.WriteVarint32(static_cast<std::uint32_t>(size));
    payload.SerializeWithCachedSizes(&coded);
}

void StreamPublisher::finish() {
    out_.reset();  // hands the last block to the stream
    stream_.flush();
}

}  // namespace azm
