#include "volume_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "filepublisher.h"
#include "pvol/pvol_prod_io.h"
#include "pvol/rawprod_io.h"

namespace azm {
namespace {

// One call of the RAW reader: hands it the files one by one and keeps its messages with the file
// that was being read when they came.
struct ReaderCall {
    const std::vector<std::string> *paths = nullptr;
    size_t opened = 0;                  // files handed to the reader so far
    std::vector<std::string> messages;  // per path, "; "-separated
    std::string unopened;               // a path the reader asked for but that cannot be opened
};

// The reader's message callback carries no argument of its own: the messages of the read running
// on this thread go to its ReaderCall, which the read sets and clears around itself.
thread_local ReaderCall *current_call = nullptr;

void keep_message(const char *text) {
    if (current_call == nullptr || current_call->opened == 0)
        return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    std::string &kept = current_call->messages[current_call->opened - 1];
    kept += (kept.empty() ? "" : "; ") + line;
}

FILE *next_file(void *arg) {
    auto *call = static_cast<ReaderCall *>(arg);
    if (call->opened >= call->paths->size())
        return nullptr;
    const std::string &path = (*call->paths)[call->opened];
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        call->unopened = path + ": cannot open: " + std::strerror(errno);
        return nullptr;
    }
    ++call->opened;
    return file;
}

}  // namespace

VolumeInput read_volume(const std::vector<std::string> &paths, bool keep_partial) {
    VolumeInput input;
    std::vector<std::string> good;
    for (const std::string &path : paths) {
        try {
            check_file(path);
            good.push_back(path);
        } catch (const std::domain_error &e) {
            input.failures.push_back(e.what());
        }
    }
    if (good.empty() || (!input.failures.empty() && !keep_partial))
        return input;

    ReaderCall call;
    call.paths = &good;
    call.messages.resize(good.size());
    current_call = &call;
    input.scan.reset(pvol_new_from_raw2(&call, next_file, keep_message, 0));
    current_call = nullptr;
    for (size_t i = 0; i < good.size(); ++i) {
        if (!call.messages[i].empty())
            input.failures.push_back(good[i] + ": " + call.messages[i]);
    }
    if (!call.unopened.empty())
        input.failures.push_back(call.unopened);
    if (!input.scan && input.failures.empty())
        input.failures.push_back("no volume can be read from " + good.front());
    return input;
}

}  // namespace azm
