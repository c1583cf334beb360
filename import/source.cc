#include "import/source.h"

namespace brix::importer {

bool holds_text(Type type) { return type == Type::kChar || type == Type::kString; }

int Header::variable(std::string_view name) const {
  for (std::size_t v = 0; v < variables.size(); ++v)
    if (variables[v].name == name) return static_cast<int>(v);
  return -1;
}

const Attribute* Header::attribute(int var, std::string_view name) const {
  if (var != kGlobal && (var < 0 || static_cast<std::size_t>(var) >= variables.size()))
    return nullptr;
  const std::vector<Attribute>& list =
      var == kGlobal ? globals : variables[static_cast<std::size_t>(var)].attributes;
  for (const Attribute& a : list)
    if (a.name == name) return &a;
  return nullptr;
}

std::string Header::text(int var, std::string_view name) const {
  const Attribute* a = attribute(var, name);
  return a != nullptr && holds_text(a->type) ? a->text : "";
}

std::vector<double> Header::numbers(int var, std::string_view name, Type* type) const {
  const Attribute* a = attribute(var, name);
  if (a == nullptr || holds_text(a->type) || a->type == Type::kOther) return {};
  if (type != nullptr) *type = a->type;
  return a->numbers;
}

}  // namespace brix::importer
