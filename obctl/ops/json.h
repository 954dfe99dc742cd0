// JSON as obctl writes it (status --json, list --json and the web's answers)
// and reads it (the web's requests): nlohmann's, with an object's members in
// the order they were set, written compactly on one line.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace obctl {

using Json = nlohmann::ordered_json;

// text as a JSON string. Names and labels on a medium are bytes in no
// promised encoding: bytes that are no UTF-8 are taken as the code points of
// their values, so that every name can be shown and none is dropped.
Json json_text(const std::string& text);

// value on one line, with a line feed.
std::string json_line(const Json& value);

}  // namespace obctl
