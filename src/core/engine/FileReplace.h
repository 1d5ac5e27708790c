// Writes a file so that a failed write never destroys the one it replaces:
// the text goes to a temporary file beside the target, is flushed to the
// disk and then renamed over the target. A target that is a symbolic link
// is written through the link, as opening it would. The new file keeps
// the permissions of the one it replaces (a plain create's otherwise).
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

class FileReplace {
public:
    // Writes `body(FILE*)` to `path`; the empty string on success, else
    // the reason.
    template <class Body>
    static std::string write(const char* path, Body body) {
        char* real = realpath(path, nullptr);  // null when it does not exist yet
        std::string target = real ? real : path;
        free(real);
        std::string temp = target + ".XXXXXX";
        int fd = mkstemp(temp.data());
        if (fd < 0) return strerror(errno);
        fchmod(fd, modeFor(target.c_str()));
        FILE* f = fdopen(fd, "w");
        if (!f) {
            int e = errno;
            close(fd);
            unlink(temp.c_str());
            return strerror(e);
        }
        body(f);
        int e = 0;
        errno = 0;
        if (fflush(f) != 0 || ferror(f)) e = errno ? errno : EIO;
        if (!e && fsync(fileno(f)) != 0) e = errno;
        if (fclose(f) != 0 && !e) e = errno;
        if (!e && rename(temp.c_str(), target.c_str()) != 0) e = errno;
        if (e) {
            unlink(temp.c_str());
            return strerror(e);
        }
        return std::string();
    }

private:
    // The permissions a plain create would give, or those of the file being
    // replaced.
    static mode_t modeFor(const char* target) {
        struct stat st;
        if (stat(target, &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
        mode_t mask = umask(0);
        umask(mask);
        return 0666 & ~mask;
    }
};
