// Windows: a new file made exclusively, and MoveFileEx, which replaces the target in one step.
// A device name (NUL, CON) is no disk file: it is written directly.
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

#include "output_file.h"
#include "windows_api.h"

namespace telvario::cli::output_file {

Target Examine(const std::string& path) {
  Target target;
  target.path = path;
  const HANDLE file = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return target;
  target.exists = true;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool disk =
      GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &information) != 0;
  target.folder = disk && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  target.regular = disk && !target.folder;
  CloseHandle(file);
  return target;
}

std::FILE* CreateNew(const std::string& path, const Target& /*replacing*/) {
  const int fd =
      _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    _close(fd);
    DeleteFileA(path.c_str());
  }
  return file;
}

bool Replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool MayWrite(const std::string& path) {
  return _access(path.c_str(), 2) == 0;
}

unsigned long ProcessNumber() {
  return static_cast<unsigned long>(_getpid());
}

}  // namespace telvario::cli::output_file
