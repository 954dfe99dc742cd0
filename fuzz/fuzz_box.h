// What every fuzz target shares: a fresh fake box per input, so that no run
// sees what an earlier one left behind, and the input as file content.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "fake_kernel.h"

namespace ob_fuzz {

inline std::string bytes(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The input cut at its NUL bytes into at most `parts` pieces (the last one
// keeps any further NULs), missing pieces empty.
inline std::vector<std::string> split(const uint8_t* data, size_t size, size_t parts) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && out.size() < parts) {
            out.emplace_back();
            continue;
        }
        out.back() += static_cast<char>(data[i]);
    }
    out.resize(parts);
    return out;
}

// Runs body, taking the ways the programs end (exit, a successful exec) as
// ordinary ends of a run.
template <typename Body>
void run_to_end(Body body) {
    try {
        body();
    } catch (const ob_test::ExitCalled&) {
    } catch (const ob_test::ExecCalled&) {
    }
}

}  // namespace ob_fuzz
