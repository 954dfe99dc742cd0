// The box model, worked out the same way by both programs from the kernel
// release, e.g. "3.14.28-1.12-dm900".
#pragma once

namespace ob {

enum BoxModel { model_dm7080 = 1, model_dm820 = 2, model_dm520 = 3, model_dm900 = 4 };

// The release from its first "dm" on, or nullptr when it has none.
const char* find_model_text(const char* release);

// 1..4 for the model text (see find_model_text); the four tests run in order
// and the last match counts, so an unknown "dm" box is a dm7080 (1).
int box_model_from_text(const char* model_text);

}  // namespace ob
