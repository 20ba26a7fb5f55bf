// "init.txt": the screening window's starting criterion settings.
#pragma once

#include <string>
#include <vector>

#include "common/platform.h"
#include "screening/controls.h"

namespace lp::screening {

enum class PrefKind { enable_box, text, list, list_start, on_off, option };

struct PrefKey {
  const char* key;
  PrefKind kind;
  const char* control;
};

// The screening keys in the order they are compared (the first equal key is applied).
const std::vector<PrefKey>& screening_pref_keys();

// Applies one key/value pair to the controls; false when the key is not a screening key.
bool apply_pref(ControlSet& controls, const std::string& key, const std::string& value);

// Reads `path` ("init.txt" of the product folder) up to "EOF" and applies every screening key
// in file order. A missing file changes nothing. Yields after each pair.
void read_init_sel(ControlSet& controls, const std::string& path, const YieldFn& yield = {});

}  // namespace lp::screening
