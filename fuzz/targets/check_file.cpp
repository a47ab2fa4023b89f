// The input check of the RAW volume publisher over a file in memory.
#include <sys/mman.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "filepublisher.h"
#include "fuzz_input.h"

int fuzz_one_input(const uint8_t *data, size_t size) {
    const int fd = memfd_create("check_file", 0);
    if (fd < 0)
        return 0;
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    int accepted = 0;
    try {
        const azm::RawProdFile file = azm::check_file("/proc/self/fd/" + std::to_string(fd));
        volatile size_t length = file.site_name.size() + file.task_name.size();
        (void)length;
        accepted = 1;
    } catch (const std::domain_error &) {
        accepted = 0;
    }
    close(fd);
    return accepted;
}
