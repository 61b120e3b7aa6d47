// What the parts of the IPP codec share: how each tag's value is encoded, and
// appending to a message.
#pragma once

#include "vorn/ipp.h"

#include <string_view>

namespace vorn::ipp {

enum class kind {
  invalid,     // not a value tag we can encode
  integer,     // integer, enum: 4 bytes
  boolean,     // 1 byte
  date,        // 11 bytes
  resolution,  // 9 bytes
  range,       // 8 bytes
  collection,  // begCollection, members follow
  langstring,  // textWithLanguage, nameWithLanguage
  string,      // octetString and the character-string tags
  raw,         // out-of-band and reserved tags: bytes kept as they came
  member,      // memberAttrName, only inside a collection
  end_collection,
};

kind value_kind(int tag);

// A group tag a message may hold at top level (0x01, 0x02, 0x04..0x07).
inline bool is_group(int tag) { return tag >= 0x01 && tag <= 0x07 && tag != IPP_TAG_END; }

inline bool is_separator(const ipp_attribute_t* attr) {
  return attr->value_tag == IPP_TAG_ZERO;
}

// A new attribute with `count` default values, linked at the end of `ipp`.
ipp_attribute_t* append(ipp_t* ipp, ipp_tag_t group, ipp_tag_t tag, std::string_view name,
                        size_t count);

}  // namespace vorn::ipp
