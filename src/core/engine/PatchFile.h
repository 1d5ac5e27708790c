// A patch or bank file read whole, the one way every reader of them
// (the program at start, the renderer, --check, the plugins' bank files
// and state, the presets) takes its bytes, and the keys' scale and
// mapping files too: only from a regular file, and only up to
// kMostBytes. A device, a FIFO or a socket is refused before it is
// opened, so a name such as /dev/zero or a pipe can neither fill the
// memory nor keep the caller waiting.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

class PatchFile {
public:
    // Bytes: 1 MiB. A bank of 16 situations, every line written, is about
    // 10 KB as a save writes it; a scale of a thousand degrees about 15 KB.
    static constexpr size_t kMostBytes = 1u << 20;

    // The whole file at `path` into `out`; false, with the reason in `why`
    // (the system's words, or that it is no regular file or too large),
    // when it cannot be read. `out` is then left empty.
    static bool read(const char* path, std::string& out, std::string& why) {
        out.clear();
        struct stat st;
        if (!path || stat(path, &st) != 0) return failed(why, std::strerror(path ? errno : EINVAL));
        if (!fits(st, why)) return false;
        // Not blocking, should the name have become a FIFO since.
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return failed(why, std::strerror(errno));
        bool ok = fstat(fd, &st) == 0 ? fits(st, why) : failed(why, std::strerror(errno));
        char chunk[65536];
        while (ok) {
            ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) ok = failed(why, std::strerror(errno));
            if (n <= 0) break;
            out.append(chunk, static_cast<size_t>(n));
            if (out.size() > kMostBytes) ok = failed(why, tooLarge());  // it grew while read
        }
        close(fd);
        if (!ok) out.clear();
        return ok;
    }

private:
    static bool fits(const struct stat& st, std::string& why) {
        if (S_ISDIR(st.st_mode)) return failed(why, std::strerror(EISDIR));
        if (!S_ISREG(st.st_mode)) return failed(why, "not a regular file (a device, a FIFO or a socket)");
        if (st.st_size > static_cast<off_t>(kMostBytes)) return failed(why, tooLarge());
        return true;
    }

    static std::string tooLarge() { return "larger than 1 MiB, far more than a patch or a scale holds"; }

    static bool failed(std::string& why, const std::string& reason) {
        why = reason;
        return false;
    }
};
