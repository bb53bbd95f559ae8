#include "json/json.h"

namespace tlm {

Json::Json() = default;
Json::Json(const Json&) = default;
Json::Json(Json&&) noexcept = default;
Json& Json::operator=(const Json&) = default;
Json& Json::operator=(Json&&) noexcept = default;
Json::~Json() = default;

const Json* Json::find(const std::string& key) const {
  if (type != Object) return nullptr;
  for (const auto& member : members) {
    if (member.first == key) return &member.second;
  }
  return nullptr;
}

std::string Json::str(const std::string& key, const std::string& def) const {
  const Json* v = find(key);
  return v != nullptr && v->type == String ? v->text : def;
}

double Json::num(const std::string& key, double def) const {
  const Json* v = find(key);
  return v != nullptr && v->type == Number ? v->number : def;
}

}  // namespace tlm
