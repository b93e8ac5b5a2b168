// posix: the name resolved through links, a new file made exclusively with the target's
// permissions, and rename(2), which replaces the target in one step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "output_file.h"

namespace telvario::cli::output_file {

Target Examine(const std::string& path) {
  Target target;
  target.path = path;
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return target;
  target.exists = true;
  target.regular = S_ISREG(status.st_mode);
  target.folder = S_ISDIR(status.st_mode);
  // Writing beside the link would replace the link itself with the picture.
  if (char* resolved = realpath(path.c_str(), nullptr)) {
    target.path = resolved;
    std::free(resolved);
  }
  return target;
}

std::FILE* CreateNew(const std::string& path, const Target& replacing) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  struct stat status {};
  if (replacing.exists && stat(replacing.path.c_str(), &status) == 0) {
    (void)fchmod(fd, status.st_mode & 07777);  // best effort: the owner's file keeps its mode
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    close(fd);
    unlink(path.c_str());
  }
  return file;
}

bool Replace(const std::string& from, const std::string& to) {
  return rename(from.c_str(), to.c_str()) == 0;
}

bool MayWrite(const std::string& path) {
  return access(path.c_str(), W_OK) == 0;
}

unsigned long ProcessNumber() {
  return static_cast<unsigned long>(getpid());
}

}  // namespace telvario::cli::output_file
