#pragma once
// Names of the elements of an array of sub-records, for field lists: "base[i]" and "base[i][j]",
// or numbered "base12" (from a first number). They are made at compile time, into a constant table
// beside the record, so that walking a field list does not format them for every element and the
// field list stays usable in constant expressions. A name longer than its slot fails the compile.

template <int ROWS, int COLS = 1>
class ElementNames {
 public:
  constexpr explicit ElementNames(const char* base) {
    for (int i = 0; i < ROWS * COLS; ++i) {
      char* p = put(names_[i], base);
      if (COLS == 1) {
        p = putIndex(p, i);
      } else {
        p = putIndex(putIndex(p, i / COLS), i % COLS);
      }
      *p = 0;
    }
  }
  static constexpr ElementNames numbered(const char* base, int first = 0) {
    ElementNames n;
    for (int i = 0; i < ROWS * COLS; ++i) *putNumber(put(n.names_[i], base), first + i) = 0;
    return n;
  }
  constexpr const char* operator()(int i, int j = 0) const { return names_[i * COLS + j]; }

 private:
  constexpr ElementNames() = default;
  static constexpr char* put(char* p, const char* text) {
    while (*text != 0) *p++ = *text++;
    return p;
  }
  static constexpr char* putNumber(char* p, int n) {
    if (n >= 10) p = putNumber(p, n / 10);
    *p++ = static_cast<char>('0' + n % 10);
    return p;
  }
  static constexpr char* putIndex(char* p, int n) {
    *p++ = '[';
    p = putNumber(p, n);
    *p++ = ']';
    return p;
  }
  char names_[ROWS * COLS][32] = {};
};
