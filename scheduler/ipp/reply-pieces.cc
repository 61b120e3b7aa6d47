// Replies of listings built from encoded pieces: values computed for the
// reply are encoded into one buffer of its own, attribute sets that rarely
// change are sent from their cached encodings, all without copying a single
// attribute.
#include "scheduler/ipp/ipp.h"

reply_pieces_t::reply_pieces_t() : own_(std::make_shared<std::string>()) {}

void reply_pieces_t::open_group(ipp_tag_t group) {
  size_t start = own_->size();
  own_->push_back(char(group));
  own_piece(start);
}

bool reply_pieces_t::add(const ipp_attribute_t* a) {
  size_t start = own_->size();
  if (!ippEncodeAttribute(*own_, a)) return false;
  own_piece(start);
  return true;
}

bool reply_pieces_t::add_all(const ipp_t* attrs) {
  for (const ipp_attribute_t* a = attrs ? attrs->attrs : nullptr; a; a = a->next)
    if (!add(a)) return false;
  return true;
}

void reply_pieces_t::add_encoded(const std::shared_ptr<const ipp_encoded_t>& enc, const ipp_attribute_t* requested) {
  const std::string& bytes = enc->bytes;
  if (!requested || requested->values.empty() || requested->values[0].string.text == "all") {
    piece(enc, 0, bytes.size());
    return;
  }
  for (size_t i = 0; i < enc->starts.size(); i++) {
    size_t from = enc->starts[i];
    size_t to = i + 1 < enc->starts.size() ? enc->starts[i + 1] : bytes.size();
    // A separator (a lone group tag) always passes, as copy_attrs copies
    // separators; an attribute by its exact name.
    bool wanted = uint8_t(bytes[from]) < 0x10;
    if (!wanted) {
      size_t len = (size_t(uint8_t(bytes[from + 1])) << 8) | uint8_t(bytes[from + 2]);
      std::string_view name(bytes.data() + from + 3, len);
      for (const ipp_value_t& v : requested->values)
        if (v.string.text == name) wanted = true;
    }
    if (wanted) piece(enc, from, to - from);
  }
}

void reply_pieces_t::finish(ipp_t* response) {
  response->pieces = std::move(pieces_);
  pieces_.clear();
}

void reply_pieces_t::own_piece(size_t start) {
  size_t end = own_->size();
  if (end == start) return;
  ipp_piece_t* last = pieces_.empty() ? nullptr : &pieces_.back();
  if (last && last->bytes == own_ && last->offset + last->length == start) {
    last->length += end - start;
    return;
  }
  pieces_.push_back({own_, start, end - start});
}

void reply_pieces_t::piece(const std::shared_ptr<const ipp_encoded_t>& enc, size_t offset, size_t length) {
  if (length == 0) return;
  // Shares ownership of the encoding, pointing at its bytes.
  std::shared_ptr<const std::string> bytes(enc, &enc->bytes);
  ipp_piece_t* last = pieces_.empty() ? nullptr : &pieces_.back();
  if (last && last->bytes == bytes && last->offset + last->length == offset) {
    last->length += length;
    return;
  }
  pieces_.push_back({std::move(bytes), offset, length});
}
