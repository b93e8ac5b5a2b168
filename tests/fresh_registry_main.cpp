// The main of the posix test programs: each process gets an empty registry of its own, in a
// directory that goes when the process ends, so no test sees what another left behind and the
// suite can run again in the same tree. Processes a test forks share it. The machine's registry
// beneath it is one of the process's own too (a test that wants another names it), so that an
// installed package's registration is not seen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "telvario-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path directory = pattern;
  setenv("TELVARIO_REGISTRY", (directory / "registry.sqlite3").c_str(), 1);
  setenv("TELVARIO_MACHINE_REGISTRY", (directory / "machine.sqlite3").c_str(), 0);
  testing::InitGoogleTest(&argc, argv);
  const int status = RUN_ALL_TESTS();
  std::error_code ignored;
  fs::remove_all(directory, ignored);
  return status;
}
