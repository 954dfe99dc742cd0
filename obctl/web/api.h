// The page's actions on the medium, one table row each: which operation it
// calls with which members of the request's JSON body. The web adds no rule
// of its own; the refusals are the operations', in their words.
#pragma once

#include <string>

#include "json.h"
#include "medium_dir.h"
#include "outcome.h"

namespace obctl {

struct Reply {
    int status = 200;
    Json body;
};

// An error's answer: its status and {"error": message}.
Reply error_reply(int status, const std::string& message);
// An outcome's answer: {"message": ...} or the error.
Reply outcome_reply(const Outcome& result);

// GET /api/NAME: status, list (as status --json and list --json), settings
// (each setting, what it takes, and hints for the page's fields). False when
// there is no such read. The caller holds the medium's lock, shared.
bool read_medium(const Medium& medium, const std::string& name, Reply& reply);

// Whether POST /api/NAME changes the medium by the table.
bool is_change(const std::string& name);

// POST /api/NAME with its body. The caller holds the medium's lock,
// exclusively. restart: set to the reboot command when the box is to
// restart once the answer has left.
Reply change_medium(const Medium& medium, const std::string& name, const std::string& body,
                    std::string& restart);

// Whether the setting takes value as it is, as obctl set would take it.
Reply check_setting(const std::string& key, const std::string& value);

}  // namespace obctl
