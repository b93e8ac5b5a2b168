#include "output_file.h"

#include <cerrno>
#include <cstring>

namespace telvario::cli {
namespace {

constexpr int kNameAttempts = 100;

std::string Reason(const std::string& path) {
  return "cannot write " + path + ": " + std::strerror(errno);
}

// ".run.svg.telvario-1234-0" beside "run.svg": a hidden name no one else gives a file.
std::string NameBeside(const std::string& target, int attempt) {
  const std::size_t slash = target.find_last_of("/\\");
  const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, base) + "." + target.substr(base) + ".telvario-" +
         std::to_string(output_file::ProcessNumber()) + "-" + std::to_string(attempt);
}

}  // namespace

OutputFile::~OutputFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temporary_.empty()) std::remove(temporary_.c_str());
}

bool OutputFile::Prepare(std::string* error) {
  const output_file::Target target = output_file::Examine(path_);
  target_ = target.path;
  if (target.folder) {
    *error = "cannot write " + path_ + ": it is a folder";
    return false;
  }
  if (target.exists && !target.regular) {
    if (output_file::MayWrite(target_)) return true;
    *error = Reason(path_);
    return false;
  }
  for (int attempt = 0; attempt < kNameAttempts && file_ == nullptr; ++attempt) {
    temporary_ = NameBeside(target_, attempt);
    file_ = output_file::CreateNew(temporary_, target);
    if (file_ == nullptr && errno != EEXIST) break;
  }
  if (file_ != nullptr) return true;
  *error = Reason(path_);
  temporary_.clear();
  return false;
}

bool OutputFile::Commit(const std::string& text, std::string* error) {
  errno = 0;
  const bool direct = temporary_.empty();
  if (direct) file_ = std::fopen(target_.c_str(), "wb");
  bool written = file_ != nullptr && std::fwrite(text.data(), 1, text.size(), file_) == text.size();
  if (file_ != nullptr) written = std::fclose(file_) == 0 && written;
  file_ = nullptr;
  if (written && !direct) written = output_file::Replace(temporary_, target_);
  if (written) {
    temporary_.clear();
    return true;
  }
  *error = path_ + " could not be written whole";
  if (errno != 0) *error += std::string(": ") + std::strerror(errno);
  return false;
}

}  // namespace telvario::cli
