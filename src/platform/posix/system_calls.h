// The system calls through which every durable step of a delivery passes:
// each write, flush, rename, link and unlink of X.DAT, the ledger, the
// exports and the kept files. The platform reaches them through this table
// rather than directly, so that a test can make any one of them fail, or end
// the process right there as a crash would, and check what is left.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

namespace vorlund {

class SystemCalls {
  public:
    virtual ~SystemCalls() = default;
    virtual int Open(const char* path, int flags, mode_t mode) {
        return ::open(path, flags, mode);
    }
    virtual ssize_t Write(int fd, const void* data, size_t size) {
        return ::write(fd, data, size);
    }
    virtual int Fsync(int fd) { return ::fsync(fd); }
    virtual int Rename(const char* from, const char* to) { return ::rename(from, to); }
    virtual int Link(const char* from, const char* to) { return ::link(from, to); }
    virtual int Unlink(const char* path) { return ::unlink(path); }
    virtual int Ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
};

// The system's own calls; the table holds no state.
SystemCalls& RealSystemCalls();

}  // namespace vorlund
