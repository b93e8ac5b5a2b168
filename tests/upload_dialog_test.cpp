// The consent prompt of UploadTest as Windows shows it: the system's message box, on a display
// (Xvfb under Wine), answered by pressing its buttons from another thread as a person would.
// Each case runs in a process of its own, so each starts unconfirmed.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ftp_journal.h"
#include "ftp_upload.h"
#include "sonde_probe.h"
#include "test_strings.h"

namespace telvario {
namespace {

using testing::ReadJournal;
using testing::TestBstr;

constexpr char kHost[] = "127.0.0.1";

struct SeenDialog {
  std::string text;
  bool hasOk = false;
  bool hasCancel = false;
  bool hasIcon = false;
};

BOOL CALLBACK ReadChild(HWND child, LPARAM parameter) {
  auto* seen = reinterpret_cast<SeenDialog*>(parameter);
  char className[32] = {};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") != 0) return TRUE;
  if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    seen->hasIcon = true;
  } else {
    char text[256] = {};
    GetWindowTextA(child, text, sizeof text);
    if (text[0] != '\0') seen->text = text;
  }
  return TRUE;
}

// Finds each message box captioned with the host as it appears and presses the given buttons
// in turn, one per box, noting what each box showed.
class Person {
 public:
  explicit Person(std::vector<int> presses) : presses_(std::move(presses)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~Person() { Seen(); }
  Person(const Person&) = delete;
  Person& operator=(const Person&) = delete;

  std::vector<SeenDialog> Seen() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return seen_;
  }

 private:
  void Run() {
    for (int button : presses_) {
      HWND dialog = nullptr;
      while (!stop_ && (dialog = FindWindowA("#32770", kHost)) == nullptr) Sleep(50);
      if (dialog == nullptr) return;
      SeenDialog seen;
      EnumChildWindows(dialog, ReadChild, reinterpret_cast<LPARAM>(&seen));
      seen.hasOk = GetDlgItem(dialog, IDOK) != nullptr;
      seen.hasCancel = GetDlgItem(dialog, IDCANCEL) != nullptr;
      seen_.push_back(seen);
      SendMessageA(GetDlgItem(dialog, button), BM_CLICK, 0, 0);
      while (!stop_ && IsWindow(dialog)) Sleep(20);
    }
  }

  std::vector<int> presses_;
  std::vector<SeenDialog> seen_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

LONG Upload() {
  SondeProbe sonde;
  const TestBstr host(kHost);
  LONG result = 12345;
  EXPECT_EQ(sonde.get_UploadTest(host.Get(), &result), S_OK);
  return result;
}

TEST(UploadDialog, CancelGivesZeroWithoutNetworkAndAsksAgain) {
  const size_t before = ReadJournal().size();
  Person person({IDCANCEL, IDCANCEL});
  EXPECT_EQ(Upload(), 0);
  EXPECT_EQ(Upload(), 0);
  const std::vector<SeenDialog> seen = person.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].text,
            "Click OK to start the bandwidth upload test.\n"
            "Randomly generated data is used to test the link.");
  EXPECT_TRUE(seen[0].hasOk);
  EXPECT_TRUE(seen[0].hasCancel);
  EXPECT_TRUE(seen[0].hasIcon);
  EXPECT_EQ(ReadJournal().size(), before);
  EXPECT_FALSE(UploadConfirmed());
}

TEST(UploadDialog, OneOkStartsTheTestAndLastsForTheProcess) {
  Person person({IDOK, IDOK});
  EXPECT_GT(Upload(), 0);
  EXPECT_GT(Upload(), 0);
  EXPECT_EQ(person.Seen().size(), 1u);  // the second test did not ask
  EXPECT_TRUE(UploadConfirmed());
}

// With no display, Wine's message box cannot be shown and gives no OK: nothing starts.
TEST(UploadWithoutDisplay, NothingStarts) {
  const size_t before = ReadJournal().size();
  EXPECT_EQ(Upload(), 0);
  EXPECT_EQ(ReadJournal().size(), before);
  EXPECT_FALSE(UploadConfirmed());
}

}  // namespace
}  // namespace telvario
