// The fuzz input as an open file descriptor (an anonymous memory file).
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

inline int FuzzInputFd(const uint8_t* data, size_t size) {
  const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
  if (fd < 0) return -1;
  size_t done = 0;
  while (done < size) {
    const ssize_t w = ::write(fd, data + done, size - done);
    if (w <= 0) {
      ::close(fd);
      return -1;
    }
    done += static_cast<size_t>(w);
  }
  ::lseek(fd, 0, SEEK_SET);
  return fd;
}
