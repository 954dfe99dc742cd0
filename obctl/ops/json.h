// A small JSON writer for --json: objects, arrays, strings, numbers,
// booleans and null, written compactly on one line.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace obctl {

class Json {
public:
    // Members of an object take their key first; elements of an array none.
    Json& key(const char* name);
    Json& begin_object();
    Json& end_object();
    Json& begin_array();
    Json& end_array();
    Json& string(const std::string& text);
    Json& number(int64_t value);
    Json& boolean(bool value);
    Json& null();
    // The text written, with a line feed.
    std::string text() const { return out_ + "\n"; }

private:
    void separate();
    std::string out_;
    std::vector<bool> first_;  // per open container: nothing written in it yet
    bool after_key_ = false;
};

// text as a JSON string: quoted, escaped, and bytes that are no UTF-8 taken
// as the code points of their values.
std::string json_string(const std::string& text);

}  // namespace obctl
