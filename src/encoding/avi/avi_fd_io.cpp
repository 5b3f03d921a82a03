#include "encoding/avi/avi_fd_io.h"

#include <cerrno>
#include <unistd.h>

bool avi_write_all(int fd, const void* data, std::size_t n) {
    const char* from = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t done = write(fd, from, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return false;
        }
        if (done == 0) {  // no progress and no error: treat as a full device
            errno = ENOSPC;
            return false;
        }
        from += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

bool avi_write_all_at(int fd, std::int64_t offset, const void* data, std::size_t n) {
    const char* from = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t done = pwrite(fd, from, n, static_cast<off_t>(offset));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            errno = done == 0 ? ENOSPC : errno;
            return false;
        }
        from += done;
        offset += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

bool avi_read_all(int fd, void* buffer, std::size_t n) {
    char* to = static_cast<char*>(buffer);
    while (n > 0) {
        ssize_t done = read(fd, to, n);
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done < 0) {
            return false;
        }
        if (done == 0) {
            errno = EIO;
            return false;
        }
        to += done;
        n -= static_cast<std::size_t>(done);
    }
    return true;
}

bool avi_seek_to(int fd, std::int64_t offset) {
    return offset >= 0 && lseek(fd, static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool avi_read_at(int fd, std::int64_t offset, void* buffer, std::size_t n) {
    return avi_seek_to(fd, offset) && avi_read_all(fd, buffer, n);
}
