// Shared internals of the type database's source files.
#pragma once

#include <cstddef>
#include <string>

struct BufFile;

// Result of ReadTypesLine.
enum TypesLineResult {
  TYPES_LINE_END = 0,       // no more data
  TYPES_LINE_OK = 1,        // `line` holds the next line
  TYPES_LINE_TOO_LONG = 2,  // the line was longer than the limit and skipped
};

// Reads one line into `line` (a line ends at "\n", "\r" or "\r\n"; the end is
// not stored). With `join_continued` a line ending in a backslash continues
// on the next (the backslash is dropped). A line, joined or not, longer than
// `max` bytes is read to its end and reported as too long: a cut line would
// be read as a different rule or filter.
struct TypesLineReader {
  BufFile* fp;
  bool skip_lf = false;  // the last line ended in "\r": a "\n" next belongs to it
};
TypesLineResult ReadTypesLine(TypesLineReader& in, std::string& line, size_t max,
                              bool join_continued);
