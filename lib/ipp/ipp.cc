// The message model: creating and freeing messages, adding, finding, copying
// and removing attributes.
#include "vorn/ipp.h"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "ipp-private.h"
#include "vorn/strings.h"

namespace vorn::ipp {

kind value_kind(int tag) {
  switch (tag) {
    case IPP_TAG_INTEGER:
    case IPP_TAG_ENUM: return kind::integer;
    case IPP_TAG_BOOLEAN: return kind::boolean;
    case IPP_TAG_DATE: return kind::date;
    case IPP_TAG_RESOLUTION: return kind::resolution;
    case IPP_TAG_RANGE: return kind::range;
    case IPP_TAG_BEGIN_COLLECTION: return kind::collection;
    case IPP_TAG_TEXTLANG:
    case IPP_TAG_NAMELANG: return kind::langstring;
    case IPP_TAG_END_COLLECTION: return kind::end_collection;
    case IPP_TAG_MEMBERNAME: return kind::member;
    case IPP_TAG_STRING:
    case IPP_TAG_TEXT:
    case IPP_TAG_NAME:
    case IPP_TAG_KEYWORD:
    case IPP_TAG_URI:
    case IPP_TAG_URISCHEME:
    case IPP_TAG_CHARSET:
    case IPP_TAG_LANGUAGE:
    case IPP_TAG_MIMETYPE: return kind::string;
    default: break;
  }
  // Out-of-band values and the reserved slots of each value class.
  if (tag >= 0x10 && tag <= 0x5F) return kind::raw;
  return kind::invalid;
}

ipp_attribute_t* append(ipp_t* ipp, ipp_tag_t group, ipp_tag_t tag, std::string_view name,
                        size_t count) {
  auto* attr = new ipp_attribute_t;
  attr->group_tag = group;
  attr->value_tag = tag;
  attr->name = vorn::cut(name, IPP_MAX_LENGTH);
  attr->values.resize(count);
  ippTouch(ipp);
  if (ipp->last)
    ipp->last->next = attr;
  else
    ipp->attrs = attr;
  ipp->last = attr;
  return attr;
}

}  // namespace vorn::ipp

using namespace vorn::ipp;

void ipp_delete_t::operator()(ipp_t* ipp) const { ippDelete(ipp); }

ipp_s::~ipp_s() {
  // Iterative, so a long list cannot exhaust the stack.
  for (ipp_attribute_t* attr = attrs; attr;) {
    ipp_attribute_t* next = attr->next;
    delete attr;
    attr = next;
  }
}

ipp_t* ippNew() { return new ipp_t; }

void ippTouch(ipp_t* ipp) {
  static std::atomic<uint64_t> counter{0};
  if (ipp) ipp->changes = counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

void ippDelete(ipp_t* ipp) { delete ipp; }

namespace {

bool is_string_tag(ipp_tag_t type) {
  kind k = value_kind(type);
  return k == kind::string || k == kind::langstring;
}

// Common checks of the adders: a message, a name and a value tag of the
// adder's kind.
ipp_attribute_t* add(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                     size_t count) {
  if (!ipp || name.empty() || count == 0) return nullptr;
  return append(ipp, group, type, name, count);
}

void set_string(ipp_value_t& v, ipp_tag_t type, std::string_view language,
                std::string_view text) {
  if (value_kind(type) == kind::langstring) {
    // Both lengths and the text go into one value of at most IPP_MAX_LENGTH.
    v.string.language = vorn::cut(language, IPP_MAX_LENGTH - 4);
    v.string.text = vorn::cut(text, IPP_MAX_LENGTH - 4 - v.string.language.size());
  } else {
    v.string.text = vorn::cut(text, IPP_MAX_LENGTH);
  }
}

template <class T>
ipp_attribute_t* add_strings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                             std::string_view language, std::span<const T> values) {
  if (!is_string_tag(type)) return nullptr;
  ipp_attribute_t* attr = add(ipp, group, type, name, values.size());
  if (!attr) return nullptr;
  for (size_t i = 0; i < values.size(); i++) {
    std::string_view text;
    if constexpr (std::is_same_v<T, const char*>) {
      if (values[i]) text = values[i];
    } else {
      text = values[i];
    }
    set_string(attr->values[i], type, language, text);
  }
  return attr;
}

std::unique_ptr<ipp_t, ipp_delete_t> copy_message(const ipp_t* src);

void copy_value(const ipp_value_t& from, ipp_value_t& to) {
  to.integer = from.integer;
  to.boolean = from.boolean;
  std::memcpy(to.date, from.date, sizeof to.date);
  to.resolution = from.resolution;
  to.range = from.range;
  to.string.language = from.string.language;
  to.string.text = from.string.text;
  to.unknown = from.unknown;
  if (from.collection) to.collection = copy_message(from.collection.get());
}

ipp_attribute_t* copy_into(ipp_t* dst, const ipp_attribute_t* src) {
  ipp_attribute_t* attr = append(dst, src->group_tag, src->value_tag, src->name,
                                 src->values.size());
  for (size_t i = 0; i < src->values.size(); i++) copy_value(src->values[i], attr->values[i]);
  return attr;
}

std::unique_ptr<ipp_t, ipp_delete_t> copy_message(const ipp_t* src) {
  std::unique_ptr<ipp_t, ipp_delete_t> dst(ippNew());
  dst->version[0] = src->version[0];
  dst->version[1] = src->version[1];
  dst->op_status = src->op_status;
  dst->request_id = src->request_id;
  for (const ipp_attribute_t* a = src->attrs; a; a = a->next) copy_into(dst.get(), a);
  return dst;
}

}  // namespace

ipp_attribute_t* ippAddString(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                              std::string_view language, std::string_view value) {
  const std::string_view one[] = {value};
  std::span<const std::string_view> values(one);
  return add_strings(ipp, group, type, name, language, values);
}

ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               std::string_view language, std::span<const char* const> values) {
  return add_strings(ipp, group, type, name, language, values);
}

ipp_attribute_t* ippAddStrings(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               std::string_view language, std::span<const std::string> values) {
  return add_strings(ipp, group, type, name, language, values);
}

ipp_attribute_t* ippAddInteger(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                               int value) {
  return ippAddIntegers(ipp, group, type, name, std::span<const int>(&value, 1));
}

ipp_attribute_t* ippAddIntegers(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type, std::string_view name,
                                std::span<const int> values) {
  if (value_kind(type) != kind::integer) return nullptr;
  ipp_attribute_t* attr = add(ipp, group, type, name, values.size());
  if (!attr) return nullptr;
  for (size_t i = 0; i < values.size(); i++) attr->values[i].integer = values[i];
  return attr;
}

ipp_attribute_t* ippAddBoolean(ipp_t* ipp, ipp_tag_t group, std::string_view name, bool value) {
  return ippAddBooleans(ipp, group, name, std::span<const bool>(&value, 1));
}

ipp_attribute_t* ippAddBooleans(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                std::span<const bool> values) {
  ipp_attribute_t* attr = add(ipp, group, IPP_TAG_BOOLEAN, name, values.size());
  if (!attr) return nullptr;
  for (size_t i = 0; i < values.size(); i++) attr->values[i].boolean = values[i];
  return attr;
}

ipp_attribute_t* ippAddRange(ipp_t* ipp, ipp_tag_t group, std::string_view name, int lower,
                             int upper) {
  const ipp_range_t one{lower, upper};
  return ippAddRanges(ipp, group, name, std::span<const ipp_range_t>(&one, 1));
}

ipp_attribute_t* ippAddRanges(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                              std::span<const ipp_range_t> values) {
  ipp_attribute_t* attr = add(ipp, group, IPP_TAG_RANGE, name, values.size());
  if (!attr) return nullptr;
  for (size_t i = 0; i < values.size(); i++) attr->values[i].range = values[i];
  return attr;
}

ipp_attribute_t* ippAddResolution(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                  ipp_res_t units, int xres, int yres) {
  const ipp_resolution_t one{xres, yres, units};
  return ippAddResolutions(ipp, group, name, std::span<const ipp_resolution_t>(&one, 1));
}

ipp_attribute_t* ippAddResolutions(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                   std::span<const ipp_resolution_t> values) {
  ipp_attribute_t* attr = add(ipp, group, IPP_TAG_RESOLUTION, name, values.size());
  if (!attr) return nullptr;
  for (size_t i = 0; i < values.size(); i++) attr->values[i].resolution = values[i];
  return attr;
}

ipp_attribute_t* ippAddDate(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                            const uint8_t* date) {
  if (!date) return nullptr;
  ipp_attribute_t* attr = add(ipp, group, IPP_TAG_DATE, name, 1);
  if (!attr) return nullptr;
  std::memcpy(attr->values[0].date, date, sizeof attr->values[0].date);
  return attr;
}

ipp_attribute_t* ippAddCollection(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                  ipp_t* value) {
  return ippAddCollections(ipp, group, name, std::span<ipp_t* const>(&value, 1));
}

ipp_attribute_t* ippAddCollections(ipp_t* ipp, ipp_tag_t group, std::string_view name,
                                   std::span<ipp_t* const> values) {
  ipp_attribute_t* attr = add(ipp, group, IPP_TAG_BEGIN_COLLECTION, name, values.size());
  for (size_t i = 0; i < values.size(); i++) {
    if (!attr) {
      ippDelete(values[i]);  // ownership was handed over either way
      continue;
    }
    attr->values[i].collection.reset(values[i] ? values[i] : ippNew());
  }
  return attr;
}

ipp_attribute_t* ippAddOutOfBand(ipp_t* ipp, ipp_tag_t group, ipp_tag_t type,
                                 std::string_view name) {
  if (type < 0x10 || type > 0x1F) return nullptr;
  return add(ipp, group, type, name, 1);
}

ipp_attribute_t* ippAddSeparator(ipp_t* ipp) {
  if (!ipp) return nullptr;
  return append(ipp, IPP_TAG_ZERO, IPP_TAG_ZERO, {}, 0);
}

ipp_attribute_t* ippFindNextAttribute(ipp_t* ipp, std::string_view name, ipp_tag_t type) {
  if (!ipp) return nullptr;
  ipp_attribute_t* attr = ipp->current ? ipp->current->next : ipp->attrs;
  for (; attr; attr = attr->next) {
    if (!name.empty() && attr->name == name && (type == IPP_TAG_ZERO || attr->value_tag == type))
      break;
  }
  ipp->current = attr;
  return attr;
}

ipp_attribute_t* ippFindAttribute(ipp_t* ipp, std::string_view name, ipp_tag_t type) {
  if (!ipp) return nullptr;
  ipp->current = nullptr;
  return ippFindNextAttribute(ipp, name, type);
}

void _ipp_free_attr(ipp_t* ipp, ipp_attribute_t* attr) {
  if (!ipp || !attr) return;
  ipp_attribute_t* prev = nullptr;
  ipp_attribute_t* a = ipp->attrs;
  while (a && a != attr) {
    prev = a;
    a = a->next;
  }
  if (!a) return;  // not ours to free
  (prev ? prev->next : ipp->attrs) = attr->next;
  if (ipp->last == attr) ipp->last = prev;
  if (ipp->current == attr) ipp->current = prev;
  if (ipp->io.attr == attr) ipp->io.attr = nullptr;
  ippTouch(ipp);
  delete attr;
}

ipp_attribute_t* ippCopyAttribute(ipp_t* dst, const ipp_attribute_t* src) {
  if (!dst || !src) return nullptr;
  return copy_into(dst, src);
}
