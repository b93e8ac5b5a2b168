// A file the client writes for the user (--svg FILE), so that no command ever costs the user a
// file: nothing is opened before the command line is checked whole; the text goes to a new file
// beside the target, which takes the target's place only once it is written whole; a command
// that ends without writing removes that new file alone. A target that exists and is no regular
// file (a device, a FIFO) is written directly, never replaced.
#ifndef TELVARIO_CLI_OUTPUT_FILE_H
#define TELVARIO_CLI_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace telvario::cli {

class OutputFile {
 public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Before anything is measured, so that a target that cannot be written is told at once: makes
  // the new file (or checks that a device or FIFO may be written). False with the reason.
  bool Prepare(std::string* error);
  // Writes the text and puts it in place. False with the reason: the target is as it was.
  bool Commit(const std::string& text, std::string* error);

 private:
  std::string path_;       // as the user named it
  std::string target_;     // where it is written: the file a link names, where it is one
  std::string temporary_;  // the new file beside it; "" when the target is written directly
  std::FILE* file_ = nullptr;
};

// What the platform gives the file above.
namespace output_file {

struct Target {
  bool exists = false;
  bool regular = false;  // false for a device or a FIFO
  bool folder = false;   // which cannot be written as a file
  std::string path;      // the file itself where the name is a link to one
};

Target Examine(const std::string& path);
// A file of that name made new (never one that exists), or null with errno set; an existing
// target's permissions are given to it.
std::FILE* CreateNew(const std::string& path, const Target& replacing);
// Puts `from` in the place of `to` in one step.
bool Replace(const std::string& from, const std::string& to);
// Whether this process may write to the existing file.
bool MayWrite(const std::string& path);
// Distinguishes this process's new files from another's.
unsigned long ProcessNumber();

}  // namespace output_file

}  // namespace telvario::cli

#endif
