#pragma once
// JSON as orvel-cli prints it: a value built as nlohmann::ordered_json, so
// that keys keep their order, written in one of two layouts. Numbers can have
// a fixed count of decimals (12.300), which nlohmann's shortest form drops,
// and every string comes out as UTF-8: a byte that is none becomes U+FFFD.

#include <nlohmann/json.hpp>

#include <string>

using TJson = nlohmann::ordered_json;

// The number with exactly that many decimals; null when it is not finite.
TJson FixedNumber(double value, int decimals);

// For people: the top object's members and the elements of the arrays and
// objects among them each on a line, indented by two; deeper values on their
// element's line, with a blank after each comma and colon.
std::string JsonIndented(const TJson& value);
// The same value on one line without blanks, as dump() writes it.
std::string JsonCompact(const TJson& value);
