// The default io record of the RAW readers and writers and its file callbacks.
#include "pvol/rawprod_io.h"

#include <cstdio>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "pvol_boundary.h"
#include "pvol_handles.h"

struct default_raw_io {
    std::optional<std::string> base;  // none for a hybrid record
    // Deques keep the handed-out name pointers valid while names are added.
    std::deque<std::string> inputs;
    std::size_t read_position = 0;
    std::deque<std::string> outputs;
};

namespace {

constexpr int kLastGroupIndex = 'Z' - 'A';

// One line of the list file; 1 when it cannot be written.
int add2mets(FILE *file, int index, const char *name) {
    return std::fprintf(file, "sPathName[%d] = %s\n", index, name) < 0 ? 1 : 0;
}

// Appends the lines of the newest output name (and, when it is the second, of the first one) to
// the list file. The list file is a by-product: a failure to write it leaves the output alone.
void update_list_file(const default_raw_io &io) {
    const std::size_t count = io.outputs.size();
    if (count < 2)
        return;
    const std::string list_name = *io.base + ".meta";
    FILE *list = std::fopen(list_name.c_str(), "a");
    if (list == nullptr)
        return;
    if (count == 2)
        add2mets(list, 0, io.outputs[0].c_str());
    add2mets(list, static_cast<int>(count - 1), io.outputs[count - 1].c_str());
    std::fclose(list);
}

FILE *open_output(void *arg, int group_index, int mode, int sweep_number, bool keep_list) {
    auto *io = static_cast<default_raw_io *>(arg);
    if (io == nullptr || !io->base || group_index > kLastGroupIndex)
        return nullptr;
    return pvol_boundary::no_throw(nullptr, [&]() -> FILE * {
        // Output takes over the name list from the inputs.
        if (!io->inputs.empty()) {
            io->inputs.clear();
            io->read_position = 0;
        }
        std::string name = *io->base;
        if (group_index >= 0) {
            name += '_';
            name += static_cast<char>('A' + group_index);
        }
        if (mode == 1 && sweep_number >= 0) {
            // Two digits at least, and larger numbers keep only their first two.
            std::string digits = std::to_string(sweep_number);
            if (digits.size() < 2)
                digits.insert(0, 1, '0');
            name += '_';
            name += digits.substr(0, 2);
        }
        FileHandle file(std::fopen(name.c_str(), "wb"));
        if (file == nullptr)
            return nullptr;
        io->outputs.push_back(std::move(name));
        if (keep_list)
            update_list_file(*io);
        return file.release();
    });
}

}  // namespace

extern "C" {

default_raw_io *default_raw_io_new(const char *name) {
    if (name == nullptr)
        return nullptr;
    return pvol_boundary::no_throw(nullptr, [&] {
        auto io = std::make_unique<default_raw_io>();
        io->base = name;
        io->inputs.emplace_back(name);
        return io.release();
    });
}

default_raw_io *default_raw_io_new_hybrid(const char *const *names, int count) {
    if (names == nullptr && count > 0)
        return nullptr;
    return pvol_boundary::no_throw(nullptr, [&]() -> default_raw_io * {
        auto io = std::make_unique<default_raw_io>();
        for (int i = 0; i < count; ++i) {
            if (names[i] == nullptr)
                return nullptr;
            io->inputs.emplace_back(names[i]);
        }
        return io.release();
    });
}

void default_raw_io_delete(default_raw_io *io) {
    delete io;
}

FILE *default_raw_input(void *arg) {
    auto *io = static_cast<default_raw_io *>(arg);
    if (io == nullptr || io->read_position >= io->inputs.size())
        return nullptr;
    return std::fopen(io->inputs[io->read_position++].c_str(), "rb");
}

FILE *default_raw_output(void *io, int group_index, int mode, int sweep_number) {
    return open_output(io, group_index, mode, sweep_number, true);
}

FILE *nometa_raw_output(void *io, int group_index, int mode, int sweep_number) {
    return open_output(io, group_index, mode, sweep_number, false);
}

int default_raw_output_count(const default_raw_io *io) {
    return io != nullptr ? static_cast<int>(io->outputs.size()) : 0;
}

const char *default_raw_output_name(const default_raw_io *io, int index) {
    if (io == nullptr || index < 0 || static_cast<std::size_t>(index) >= io->outputs.size())
        return nullptr;
    return io->outputs[static_cast<std::size_t>(index)].c_str();
}

const char *default_raw_output_base(const default_raw_io *io) {
    return io != nullptr && io->base ? io->base->c_str() : nullptr;
}

}  // extern "C"
