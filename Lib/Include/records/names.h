#pragma once
// Names of the elements of an array of sub-records, for field lists: "base[i]" and "base[i][j]",
// or numbered "base12" (from a first number). They are made once, into a static table of the
// record, so that walking a field list does not format them again for every element.
#include <cstdio>

template <int ROWS, int COLS = 1>
class ElementNames {
 public:
  explicit ElementNames(const char* base) {
    for (int i = 0; i < ROWS * COLS; ++i) {
      if (COLS == 1) {
        std::snprintf(names_[i], sizeof names_[i], "%s[%d]", base, i);
      } else {
        std::snprintf(names_[i], sizeof names_[i], "%s[%d][%d]", base, i / COLS, i % COLS);
      }
    }
  }
  static ElementNames numbered(const char* base, int first = 0) {
    ElementNames n;
    for (int i = 0; i < ROWS * COLS; ++i) std::snprintf(n.names_[i], sizeof n.names_[i], "%s%d", base, first + i);
    return n;
  }
  const char* operator()(int i, int j = 0) const { return names_[i * COLS + j]; }

 private:
  ElementNames() = default;
  char names_[ROWS * COLS][32];
};
