// Shared between the language files of lib/util; not a public header.
#pragma once

#include "vorn/language.h"

namespace vorn {

// Fills `lang.messages`: the built-in English texts, then the catalogue file
// of the language, if any, over them.
void lang_load_messages(vorn_lang_t& lang);

}  // namespace vorn
