// The client's commands: each gives its options and help to the command line and does its work
// once the line is read; and the two ways a command ends without its results, told apart.
#ifndef TELVARIO_CLI_COMMAND_H
#define TELVARIO_CLI_COMMAND_H

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "telvario2_idl.h"

namespace CLI {
class App;
}

namespace telvario::cli {

constexpr int kMeasured = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// The command line was wrong: one line, and where the help is; exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The command could not do its work: no component, or a file or standard output that could not
// be written. One line; exit status 1.
class RunFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What every command takes: the object to make, its settings and the output's form.
struct CommonOptions {
  std::string className = "Sonde2";
  std::optional<long> packetSize;
  std::optional<long> pingReps;
  bool json = false;
};

// The object a command measures with, made once the command line has been read whole.
class Session {
 public:
  Session(const CommonOptions& options, ISonde& sonde, ISonde2* sonde2, HMODULE library)
      : options_(options), sonde_(sonde), sonde2_(sonde2), library_(library) {}

  const CommonOptions& Options() const { return options_; }
  ISonde& Sonde() const { return sonde_; }
  // For a command that NeedsSonde2: the object's Sonde2 side.
  ISonde2& Sonde2() const;
  HMODULE Library() const { return library_; }

 private:
  const CommonOptions& options_;
  ISonde& sonde_;
  ISonde2* sonde2_;
  HMODULE library_;
};

class Command {
 public:
  virtual ~Command() = default;
  // Whether it may send echo requests on this machine's network: only then does the client keep
  // the raw sockets its installation's capability opens.
  virtual bool SendsEcho() const { return false; }
  // Whether it measures with Sonde2's members, which a Sonde (--class Sonde) does not have.
  virtual bool NeedsSonde2() const { return false; }
  // Once the command line is read, before the component is loaded, while the process has one
  // thread: what takes several options together (UsageError), then what must come before any
  // measurement (the picture's file: RunFailure).
  virtual void Prepare(const CommonOptions& /*options*/) {}
  // Does the work and prints the results; gives the exit status.
  virtual int Run(Session& session) = 0;
  // Whether it works with the component at all: one that does not (serve) has RunAlone called,
  // and the component is never loaded.
  virtual bool NeedsComponent() const { return true; }
  virtual int RunAlone(const CommonOptions& /*options*/) { return kFailed; }
};

// A command in the client's table: its name, what the list of commands says of it, and the
// function that gives it its arguments, options and help on the command line.
struct CommandEntry {
  const char* name;
  const char* summary;
  std::unique_ptr<Command> (*add)(CLI::App& command);
};

}  // namespace telvario::cli

#endif
