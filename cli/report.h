// What the client prints: named values in order, as aligned text or as one JSON object.
#ifndef TELVARIO_CLI_REPORT_H
#define TELVARIO_CLI_REPORT_H

#include <cstdio>
#include <string>
#include <vector>

namespace telvario::cli {

class Report {
 public:
  void Add(const std::string& name, long long value);
  void Add(const std::string& name, double value);
  void Add(const std::string& name, const std::string& value);
  void Print(std::FILE* out, bool json) const;

 private:
  struct Row {
    std::string name;
    std::string text;  // as printed in text form
    std::string json;  // as printed in JSON form
  };
  std::vector<Row> rows_;
};

// The text quoted and escaped as a JSON string.
std::string JsonString(const std::string& text);

}  // namespace telvario::cli

#endif
