// Fuzz inputs as files: the readers take paths, so each input is put in an
// anonymous in-memory file and read back through /proc/self/fd.
#ifndef ORVANE_FUZZ_INPUT_FILE_H
#define ORVANE_FUZZ_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

class InputFile {
public:
    InputFile(const uint8_t *data, size_t size) : fd(memfd_create("orvane-fuzz", MFD_CLOEXEC))
    {
        for (size_t done = 0; fd >= 0 && done < size;) {
            const ssize_t wrote = write(fd, data + done, size - done);
            if (wrote <= 0)
                break;
            done += static_cast<size_t>(wrote);
        }
    }
    ~InputFile()
    {
        if (fd >= 0)
            close(fd);
    }
    InputFile(const InputFile &) = delete;
    InputFile &operator=(const InputFile &) = delete;

    std::string path() const { return "/proc/self/fd/" + std::to_string(fd); }

private:
    int fd;
};

#endif
