// StreamPublisher: envelopes written one by one in the encoding of the list they form.
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/wire_format_lite.h>

#include <cstring>
#include <limits>
#include <stdexcept>
#include <utility>

#include "publisher.h"

namespace azm {

namespace {

using google::protobuf::internal::WireFormatLite;

// Large blocks keep the system calls few; the sweep buffers pass through in a handful each.
constexpr int kBlockBytes = 256 * 1024;

constexpr std::uint32_t kPayloadTag = WireFormatLite::MakeTag(
    pb::PayloadList::kPayloadFieldNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);

}  // namespace

StreamPublisher::StreamPublisher(int fd, std::string name)
    : out_(fd, kBlockBytes), name_(std::move(name)) {}

void StreamPublisher::send_payload(pb::Payload &payload) {
    if (failed_)
        return;
    const std::size_t size = payload.ByteSizeLong();
    if (size > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw std::runtime_error("envelope too large to serialise");
    google::protobuf::io::CodedOutputStream coded(&out_);
    coded.WriteVarint32(kPayloadTag);
    coded.WriteVarint32(static_cast<std::uint32_t>(size));
    payload.SerializeWithCachedSizes(&coded);
    failed_ = coded.HadError();
}

void StreamPublisher::finish() {
    if (!failed_ && out_.Flush())
        return;
    failed_ = true;
    throw std::runtime_error("cannot write " + name_ + ": " + std::strerror(out_.GetErrno()));
}

}  // namespace azm
