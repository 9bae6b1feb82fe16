// The JavaScript object's spelling checker ("spell"), over Hunspell and the
// installed dictionaries.
#pragma once

#include <string>

#include "automation/Automation.h"

namespace pm::pdf {

// The spell object with its dictionary loaded. The dictionary is the one
// PRESSMARK_SPELL_DICTIONARY names (a name such as "de_DE", or the path of
// a .dic file), otherwise the one of the locale (LC_ALL, LC_MESSAGES,
// LANG; en_US for the C locale). Raises a clear error when it is missing.
ObjectRef makeSpellChecker();

// The dictionary chosen by the settings, as a name or path (for messages
// and tests).
std::string spellDictionaryName();

}  // namespace pm::pdf
