#include "record_fields.h"

#include <cmath>

namespace telvario::cli {

RecordFields::RecordFields(const nlohmann::json& object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (!object_.is_object()) throw BadRecord(where_ + " is not a JSON object");
}

const nlohmann::json* RecordFields::Member(const char* key) const {
  const auto found = object_.find(key);
  if (found == object_.end() || found->is_null()) return nullptr;
  return &*found;
}

void RecordFields::Refuse(const char* key, const char* kind) const {
  throw BadRecord(where_ + ": \"" + key + "\" is not " + kind);
}

std::optional<double> RecordFields::Number(const char* key) const {
  const nlohmann::json* value = Member(key);
  if (value == nullptr) return std::nullopt;
  if (!value->is_number() || !std::isfinite(value->get<double>())) Refuse(key, "a number");
  return value->get<double>();
}

double RecordFields::RequiredNumber(const char* key) const {
  const std::optional<double> value = Number(key);
  if (!value) Refuse(key, "there");
  return *value;
}

std::string RecordFields::Text(const char* key) const {
  const nlohmann::json* value = Member(key);
  if (value == nullptr) return "";
  if (!value->is_string()) Refuse(key, "text");
  return value->get<std::string>();
}

bool RecordFields::Flag(const char* key) const {
  const nlohmann::json* value = Member(key);
  if (value == nullptr) return false;
  if (!value->is_boolean()) Refuse(key, "true or false");
  return value->get<bool>();
}

double RecordFields::ItemNumber(const nlohmann::json& item, const std::string& where) {
  if (!item.is_number() || !std::isfinite(item.get<double>())) {
    throw BadRecord(where + " is not a number");
  }
  return item.get<double>();
}

RunOutcome RecordFields::Outcome() const {
  RunOutcome outcome;
  outcome.result = Number("result");
  outcome.failure = Text("failure");
  outcome.cancelled = Flag("cancelled");
  return outcome;
}

}  // namespace telvario::cli
