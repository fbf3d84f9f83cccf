// Escaped text check and the copy rule of merged texts.
#include "Lib/Include/text.h"

namespace libmx {

const rules::Rule ESCAPED_TEXT = {
    rules::Effect::REFUSES, "a text takes printable ASCII only, with a double quote or a backslash only escaped by a "
                            "backslash (the escapes are \\\" \\\\ \\' and no other)"};

bool isValidEscapedText(int count, const u8* chars, int capacity) {
  if (count < 0 || count > capacity) return false;
  bool escaped = false;
  for (int i = 0; i < count; ++i) {
    const u8 c = chars[i];
    if (escaped) {
      if (!isTextEscape(c)) return false;
      escaped = false;
    } else if (c == TEXT_ESCAPE) {
      escaped = true;
    } else if (!isPlainTextChar(c)) {
      return false;
    }
  }
  return !escaped;
}

void copyTextChars(s16& targetCount, u8* target, const u8* source, int capacity) {
  int n = 0;
  while (n < capacity) {
    target[n] = source[n];
    if (source[n] == 0) break;
    ++n;
  }
  if (n == capacity) target[capacity] = 0;
  targetCount = static_cast<s16>(n);
}

}  // namespace libmx

void copyTextFields(TextBlock& target, const TextBlock& source) {
  copyText(target.text1, source.text1);
  copyText(target.text2, source.text2);
  copyText(target.text3, source.text3);
  copyText(target.text4, source.text4);
  target.mask |= 0xFu;
}
