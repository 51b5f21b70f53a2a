// Target presets, the built-in encoder presets, preset files, and the tables that carry option
// and codec names of an older library generation onto the current ones.
// Not the dispatcher (options.cpp) nor the option tables that finally take the values.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct TBuiltinPreset {
  const char *Name;
  const char *Text; // "key=value" lines, each ended by "\n"
};

// The 40 built-in presets, in their published order.
const std::vector<TBuiltinPreset> &BuiltinPresets();
// Case-insensitive lookup; nullptr when there is none of that name.
const TBuiltinPreset *FindBuiltinPreset(const std::string &name);

// An option as older settings spell it, turned into the current options with the same intent
// (for example "flags2" "+dct8x8-wpred" becomes "8x8dct" "1" and "weightb" "0"). A name the
// table does not know comes back unchanged as the only pair.
std::vector<std::pair<std::string, std::string>> TranslateLegacyOption(const std::string &name,
                                                                       const std::string &value);

// The current name of an encoder that older settings name differently, without logging.
std::string CurrentEncoderName(const std::string &name);
