// What the client prints: named values in order, as aligned text or as one JSON object, with
// sections for the parts of a report; and whether anything in it failed. A name stands once in
// each object: a second value of a name is the caller's mistake (std::logic_error), never a
// duplicate key.
#ifndef TELVARIO_CLI_REPORT_H
#define TELVARIO_CLI_REPORT_H

#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace telvario::cli {

class Report {
 public:
  void Add(const std::string& name, long long value);
  // Whole numbers (a byte count) as whole numbers, others to nine significant digits.
  void Add(const std::string& name, double value);
  void Add(const std::string& name, const std::string& value);
  void Add(const std::string& name, const char* value) { Add(name, std::string(value)); }
  void Add(const std::string& name, bool value);
  // A titled group of values: indented under its title as text, a nested object in JSON.
  void Add(const std::string& name, const Report& section);
  // A list of texts: an array in JSON, one line joined by ", " as text.
  void Add(const std::string& name, const std::vector<std::string>& texts);
  // A list of groups: an array of objects in JSON, each a section numbered from 1 as text.
  void Add(const std::string& name, const std::vector<Report>& sections);
  // A figure where it was measured; nothing where it was not.
  void Add(const std::string& name, const std::optional<double>& figure);
  // Why something failed: the report (and any report it is a section of) has failed.
  void AddFailure(const std::string& name, const std::string& why);

  bool Failed() const { return failed_; }
  bool Has(const std::string& name) const { return values_.contains(name); }
  std::string Text() const;
  std::string Json() const;

 private:
  void Put(const std::string& name, nlohmann::ordered_json value);

  nlohmann::ordered_json values_ = nlohmann::ordered_json::object();
  bool failed_ = false;
};

}  // namespace telvario::cli

#endif
