// What the upload tests' FTP servers (tests/ftp_test_server.py) wrote down: one entry per
// command and per file received, in order.
#ifndef TELVARIO_TESTS_FTP_JOURNAL_H
#define TELVARIO_TESTS_FTP_JOURNAL_H

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace telvario::testing {

struct JournalEntry {
  std::string address;
  std::string session;
  std::string command;  // an FTP command, "received" or "incomplete"
  std::vector<std::string> arguments;
};

inline std::vector<JournalEntry> ReadJournal() {
  std::vector<JournalEntry> entries;
  std::ifstream journal(TELVARIO_FTP_STATE "/journal");
  std::string line;
  while (std::getline(journal, line)) {
    std::istringstream words(line);
    JournalEntry entry;
    words >> entry.address >> entry.session >> entry.command;
    for (std::string word; words >> word;) entry.arguments.push_back(word);
    entries.push_back(entry);
  }
  return entries;
}

// The entries after the first `skip`, for one server address.
inline std::vector<JournalEntry> JournalSince(size_t skip, const std::string& address) {
  std::vector<JournalEntry> entries = ReadJournal();
  std::vector<JournalEntry> since;
  for (size_t i = skip; i < entries.size(); ++i) {
    if (entries[i].address == address) since.push_back(entries[i]);
  }
  return since;
}

// What a failed test shows: the journal's lines after the first `skip`, then the server's
// warnings (a transfer it aborted, and why).
inline std::string ServerRecordSince(size_t skip) {
  std::ifstream journal(TELVARIO_FTP_STATE "/journal");
  std::string record = "server's journal:\n";
  size_t index = 0;
  for (std::string line; std::getline(journal, line); ++index) {
    if (index >= skip) record += line + "\n";
  }
  std::ifstream warnings(TELVARIO_FTP_STATE "/journal.log");
  record += "server's warnings:\n";
  record.append(std::istreambuf_iterator<char>(warnings), std::istreambuf_iterator<char>());
  return record;
}

}  // namespace telvario::testing

#endif
