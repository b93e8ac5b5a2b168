#include "standard_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "command.h"

namespace telvario::cli {
namespace {

bool told = false;  // a write failed and said so: the flush need not say it again

std::string Problem(int error) {
  return std::string("standard output could not be written whole: ") +
         (error != 0 ? std::strerror(error) : "the stream failed");
}

}  // namespace

void WriteOut(const std::string& text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    told = true;
    throw RunFailure(Problem(errno));
  }
}

std::string FinishStandardOutput() {
  errno = 0;
  // A stream in error may have lost bytes at an earlier write that reported none.
  const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  return lost && !told ? Problem(errno) : "";
}

}  // namespace telvario::cli
