#pragma once

// Text <-> LogVariant for the command line: values typed by their column, shown and written out.

#include <Ovra/LogVariant.h>

#include <nlohmann/json.hpp>

#include <string>

namespace ovractl {

// "int8", "uint16", "text", ... or the type words ("TINYINT", "INT64", ...), any case.
Ovra::LogVariant::Type TypeFromName(const std::string& name);
std::string TypeNames();

// Parses `text` as a value of `type`; false when it is not one (out of range, trailing garbage).
bool ParseValue(Ovra::LogVariant::Type type, const std::string& text, Ovra::LogVariant& value);

std::string DisplayText(const Ovra::LogVariant& value);
// Value <-> JSON, exact both ways: integers as JSON integers (64-bit extremes included), reals
// with round-trip precision, text as UTF-8 strings; a None value is null.
nlohmann::json JsonValue(const Ovra::LogVariant& value);
bool ValueFromJson(Ovra::LogVariant::Type type, const nlohmann::json& json,
                   Ovra::LogVariant& value);

// A short explanation of a library result code.
std::string LibraryCodeText(int code);

}  // namespace ovractl
