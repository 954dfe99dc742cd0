#include "box_model.h"

#include <string.h>

namespace ob {

const char* find_model_text(const char* release) { return strstr(release, "dm"); }

int box_model_from_text(const char* model_text) {
    int model = model_dm7080;
    if (model_text == nullptr) return model;
    if (strncmp(model_text, "dm7080", 6) == 0) model = model_dm7080;
    if (strncmp(model_text, "dm820", 5) == 0) model = model_dm820;
    if (strncmp(model_text, "dm52", 4) == 0) model = model_dm520;
    if (strncmp(model_text, "dm900", 5) == 0) model = model_dm900;
    return model;
}

}  // namespace ob
