// What the client prints: named values in order, as aligned text or as one JSON object.
#ifndef TELVARIO_CLI_REPORT_H
#define TELVARIO_CLI_REPORT_H

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace telvario::cli {

class Report {
 public:
  void Add(const std::string& name, long long value);
  void Add(const std::string& name, double value);
  void Add(const std::string& name, const std::string& value);
  void Add(const std::string& name, const char* value) { Add(name, std::string(value)); }
  void Add(const std::string& name, bool value);
  // A titled group of values: indented under its title as text, a nested object in JSON.
  void Add(const std::string& name, const Report& section);
  void Print(std::FILE* out, bool json) const;
  bool Has(const std::string& name) const;

 private:
  struct Row {
    std::string name;
    std::string text;  // as printed in text form
    std::string json;  // as printed in JSON form
    std::shared_ptr<const Report> section;
  };
  void PrintText(std::FILE* out, int indent) const;
  std::string Json() const;
  std::vector<Row> rows_;
};

}  // namespace telvario::cli

#endif
