// The consent prompt of UploadTest on posix, where the host answers message boxes through the
// handler it installs. Each test runs in a process of its own, so each starts unconfirmed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp_journal.h"
#include "ftp_upload.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using testing::ReadJournal;
using testing::TestBstr;

struct Prompt {
  std::string text;
  bool hasCaption;
  std::string caption;
  UINT type;
};

std::vector<Prompt> prompts;
int answer = IDCANCEL;

int Answer(LPCSTR text, LPCSTR caption, UINT type) {
  prompts.push_back({text, caption != nullptr, caption != nullptr ? caption : "", type});
  return answer;
}

class UploadPrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    prompts.clear();
    SetMessageBoxHandler(Answer);
  }
  void TearDown() override { SetMessageBoxHandler(nullptr); }

  LONG Upload(const char* host) {
    SondeProbe sonde;
    const TestBstr text(host);
    LONG result = 12345;
    EXPECT_EQ(sonde.get_UploadTest(text.Get(), &result), S_OK);
    return result;
  }
};

TEST_F(UploadPrompt, CancelGivesZeroWithoutNetworkAndAsksAgain) {
  answer = IDCANCEL;
  const size_t before = ReadJournal().size();
  EXPECT_EQ(Upload("127.0.0.1"), 0);
  EXPECT_EQ(Upload("127.0.0.1"), 0);
  EXPECT_EQ(ReadJournal().size(), before);  // no server heard from us
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].text,
            "Click OK to start the bandwidth upload test.\n"
            "Randomly generated data is used to test the link.");
  EXPECT_TRUE(prompts[0].hasCaption);
  EXPECT_EQ(prompts[0].caption, "127.0.0.1");
  EXPECT_EQ(prompts[0].type, 0x41u);
  EXPECT_FALSE(UploadConfirmed());
}

TEST_F(UploadPrompt, OneOkLastsForTheProcess) {
  answer = IDOK;
  EXPECT_EQ(Upload("nowhere.invalid"), UPLOAD_NOT_CONNECTED);
  answer = IDCANCEL;
  EXPECT_EQ(Upload("nowhere.invalid"), UPLOAD_NOT_CONNECTED);
  EXPECT_EQ(prompts.size(), 1u);
  EXPECT_TRUE(UploadConfirmed());
}

TEST_F(UploadPrompt, NullHostAsksWithTheDefaultCaptionThenFailsToConnect) {
  answer = IDOK;
  EXPECT_EQ(Upload(nullptr), UPLOAD_NOT_CONNECTED);
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_FALSE(prompts[0].hasCaption);
}

TEST_F(UploadPrompt, WithNoWayToAskTheAnswerIsCancel) {
  SetMessageBoxHandler(nullptr);
  EXPECT_EQ(Upload("127.0.0.1"), 0);
  EXPECT_FALSE(UploadConfirmed());
}

}  // namespace
}  // namespace telvario
