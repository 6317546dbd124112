#include "solver/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace quaderix {

bool AppendRecord(const std::string& path, const std::string& record) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  flock(fd, LOCK_EX);
  bool ok = true;
  size_t done = 0;
  while (done < record.size()) {
    const ssize_t n = ::write(fd, record.data() + done, record.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  flock(fd, LOCK_UN);
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace quaderix
