// Uploads to the FTP servers of the tests' namespace (tests/lab/ftp_lab.sh), from inside it,
// without the prompt: the rate path and what the server received, the failure codes, and the
// time limit of the connection.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "ftp_journal.h"
#include "ftp_upload.h"

namespace telvario {
namespace {

using testing::JournalEntry;
using testing::JournalSince;
using testing::ReadJournal;
using testing::ServerRecordSince;
using Clock = std::chrono::steady_clock;

constexpr char kWritable[] = "127.0.0.1";
constexpr char kNoTemp[] = "127.0.0.2";
constexpr char kDropping[] = "127.0.0.3";
constexpr char kNeverAnswers[] = "127.0.0.9";

const JournalEntry* Find(const std::vector<JournalEntry>& entries, const std::string& command) {
  for (const JournalEntry& entry : entries) {
    if (entry.command == command) return &entry;
  }
  return nullptr;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(FtpUpload, RatePathWritesThePatternActivelyAndDeletesTheFile) {
  const size_t before = ReadJournal().size();
  const LONG rate = RunUploadTest(kWritable);
  EXPECT_GT(rate, 0) << ServerRecordSince(before);

  const std::vector<JournalEntry> seen = JournalSince(before, kWritable);
  const JournalEntry* store = Find(seen, "STOR");
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(store->arguments.size(), 1u);
  const std::string name = store->arguments[0];
  EXPECT_TRUE(std::regex_match(name, std::regex("/temp/[0-9a-f]{8}\\.tmp"))) << name;
  EXPECT_EQ(Find(seen, "USER")->arguments.at(0), "anonymous");
  EXPECT_EQ(Find(seen, "PASV"), nullptr);  // the server connects back
  EXPECT_EQ(Find(seen, "EPSV"), nullptr);
  EXPECT_TRUE(Find(seen, "PORT") != nullptr || Find(seen, "EPRT") != nullptr);
  ASSERT_NE(Find(seen, "TYPE"), nullptr);
  EXPECT_EQ(Find(seen, "TYPE")->arguments.at(0), "I");

  const JournalEntry* received = Find(seen, "received");
  ASSERT_NE(received, nullptr);
  ASSERT_EQ(received->arguments.size(), 3u);
  EXPECT_EQ(received->arguments[0], name);
  const auto size = std::stoull(received->arguments[1]);
  EXPECT_GT(size, 0u);
  EXPECT_EQ(size % kUploadBurstBytes, 0u);  // whole bursts only
  EXPECT_EQ(received->arguments[2], "2923be84e16cd6ae");
  // The rate is the bits of what was written per millisecond of at least five seconds.
  EXPECT_LE(static_cast<ULONGLONG>(rate), size * 8 / 5000);

  const JournalEntry* deleted = Find(seen, "DELE");
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->arguments.at(0), name);
  EXPECT_EQ(deleted->session, store->session);  // on the same control connection
  EXPECT_FALSE(std::filesystem::exists(TELVARIO_FTP_STATE "/root/writable" + name));
}

TEST(FtpUpload, EveryTestWritesTheSameBytes) {
  const size_t before = ReadJournal().size();
  EXPECT_GT(RunUploadTest(kWritable), 0) << ServerRecordSince(before);
  EXPECT_GT(RunUploadTest(kWritable), 0) << ServerRecordSince(before);
  int files = 0;
  for (const JournalEntry& entry : JournalSince(before, kWritable)) {
    if (entry.command != "received") continue;
    ++files;
    EXPECT_EQ(entry.arguments.at(2), "2923be84e16cd6ae");
  }
  EXPECT_EQ(files, 2);
}

TEST(FtpUpload, NoWritableTempGivesMinusThree) {
  const size_t before = ReadJournal().size();
  EXPECT_EQ(RunUploadTest(kNoTemp), UPLOAD_FILE_REFUSED);
  EXPECT_NE(Find(JournalSince(before, kNoTemp), "PASS"), nullptr);  // it did log in
}

TEST(FtpUpload, TransferBrokenDuringTheBurstsGivesMinusFourAndStillDeletes) {
  const size_t before = ReadJournal().size();
  EXPECT_EQ(RunUploadTest(kDropping), UPLOAD_WRITE_FAILED);
  const std::vector<JournalEntry> seen = JournalSince(before, kDropping);
  const JournalEntry* store = Find(seen, "STOR");
  ASSERT_NE(store, nullptr);
  const JournalEntry* deleted = Find(seen, "DELE");
  ASSERT_NE(deleted, nullptr);
  EXPECT_EQ(deleted->arguments.at(0), store->arguments.at(0));
  EXPECT_FALSE(std::filesystem::exists(TELVARIO_FTP_STATE "/root/dropping" + store->arguments[0]));
}

TEST(FtpUpload, NameThatDoesNotResolveGivesMinusTwoBeforeTheLimit) {
  const auto start = Clock::now();
  EXPECT_EQ(RunUploadTest("nowhere.invalid"), UPLOAD_NOT_CONNECTED);
  EXPECT_LT(SecondsSince(start), kUploadConnectLimitMs / 1000.0);
}

TEST(FtpUpload, NullHostGivesMinusTwo) {
  EXPECT_EQ(RunUploadTest(nullptr), UPLOAD_NOT_CONNECTED);
}

TEST(FtpUpload, HostThatNeverAnswersGivesMinusTwoAfterTheLimit) {
  const auto start = Clock::now();
  EXPECT_EQ(RunUploadTest(kNeverAnswers), UPLOAD_NOT_CONNECTED);
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, kUploadConnectLimitMs / 1000.0 - 0.05);
  // The limit, with a second for a loaded machine: the login is left to end by itself.
  EXPECT_LE(seconds, kUploadConnectLimitMs / 1000.0 + 1.0);
}

}  // namespace
}  // namespace telvario
