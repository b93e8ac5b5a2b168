// The members of one object of a Results record, each read as the kind it must be: absent (or
// null) reads as none; present and of another kind, the record is not of its form and BadRecord
// says which member, where.
#ifndef TELVARIO_CLI_RECORD_FIELDS_H
#define TELVARIO_CLI_RECORD_FIELDS_H

#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "results_records.h"

namespace telvario::cli {

class BadRecord : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class RecordFields {
 public:
  // `where` names the object in a reader's words: "the latency record", "sample 3 of ...".
  RecordFields(const nlohmann::json& object, std::string where);

  std::optional<double> Number(const char* key) const;  // a finite number
  double RequiredNumber(const char* key) const;         // one that must be there
  std::string Text(const char* key) const;              // "" when absent
  bool Flag(const char* key) const;                     // false when absent
  // Each item of the array `key` (none when absent), handed to `read` with its own words.
  template <typename Read>
  void EachItem(const char* key, const char* itemName, Read read) const {
    const nlohmann::json* items = Member(key);
    if (items == nullptr) return;
    if (!items->is_array()) Refuse(key, "an array");
    std::size_t index = 0;
    for (const nlohmann::json& item : *items) {
      read(item, std::string(itemName) + " " + std::to_string(++index) + " of " + where_);
    }
  }

  // A number standing alone (an array's item), refused as `where` when it is not one.
  static double ItemNumber(const nlohmann::json& item, const std::string& where);

  // The result, failure and cancellation every kind of record states.
  RunOutcome Outcome() const;

 private:
  const nlohmann::json* Member(const char* key) const;
  [[noreturn]] void Refuse(const char* key, const char* kind) const;

  const nlohmann::json& object_;
  std::string where_;
};

}  // namespace telvario::cli

#endif
