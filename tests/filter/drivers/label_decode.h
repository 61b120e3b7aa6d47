// A reader for the label printers' commands, for the tests: the labels
// sent, each with its length, row width, density, rows and feeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace drvtest {

struct Label {
  unsigned length = 0, bytes = 0;
  char density = 0;
  std::vector<std::vector<uint8_t>> rows;  // printed rows by position
  std::vector<unsigned> feeds;             // each ESC "f" 01 count
};

// The label printer's commands: ESC "@" reset, ESC "L" length (low, high),
// ESC "D" bytes per row, ESC "c".."e" density, ESC "f" 01 n feed n rows,
// 16 and a row of dots, ESC "E" to the next label. Leading ESC padding is
// skipped.
inline std::vector<Label> DecodeLabels(const std::string& s, std::string& err) {
  std::vector<Label> labels;
  size_t i = 0;
  while (i < s.size() && s[i] == '\033' && (i + 1 >= s.size() || s[i + 1] == '\033')) i++;
  if (s.compare(i, 2, "\033@") != 0) return err = "no reset after the padding", labels;
  i += 2;
  Label cur;
  bool open = false;
  unsigned y = 0;
  auto at = [&](size_t k) { return k < s.size() ? int(uint8_t(s[k])) : -1; };
  while (i < s.size()) {
    int c = at(i++);
    if (c == 0x16) {
      if (!open || i + cur.bytes > s.size()) return err = "row outside a label or cut short", labels;
      if (cur.rows.size() <= y) cur.rows.resize(y + 1);
      cur.rows[y++].assign(s.begin() + i, s.begin() + i + cur.bytes);
      i += cur.bytes;
      continue;
    }
    if (c != 0x1B) return err = "stray byte at " + std::to_string(i - 1), labels;
    int k = at(i++);
    if (k == 'L') {
      if (open) return err = "label not ended", labels;
      cur = Label{};
      open = true;
      y = 0;
      cur.length = unsigned(at(i) | at(i + 1) << 8);
      i += 2;
    } else if (k == 'D') {
      cur.bytes = unsigned(at(i++));
    } else if (k == 'f' && open && cur.density) {
      if (at(i) != 1) return err = "feed without 01", labels;
      cur.feeds.push_back(unsigned(at(i + 1)));
      y += unsigned(at(i + 1));
      i += 2;
    } else if (k >= 'c' && k <= 'e' && open && !cur.density) {
      cur.density = char(k);
    } else if (k == 'E' && open) {
      labels.push_back(cur);
      open = false;
    } else {
      return err = "unknown command ESC " + std::to_string(k), labels;
    }
  }
  if (open) err = "last label not ended";
  return labels;
}

}  // namespace drvtest
