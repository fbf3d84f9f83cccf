#include "Lib/Include/codec.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace codec {

u32 loadElement(const Leaf& f, int i) {
  const u8* p = f.data + static_cast<size_t>(widthOf(f.kind)) * i;
  switch (f.kind) {
    case Kind::U8:
      return *p;
    case Kind::S8:
      return static_cast<u32>(static_cast<s32>(static_cast<s8>(*p)));
    case Kind::U16: {
      u16 v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case Kind::S16: {
      s16 v;
      std::memcpy(&v, p, 2);
      return static_cast<u32>(static_cast<s32>(v));
    }
    default: {
      u32 v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void storeElement(const Leaf& f, int i, u32 bits) {
  u8* p = f.data + static_cast<size_t>(widthOf(f.kind)) * i;
  switch (widthOf(f.kind)) {
    case 1:
      *p = static_cast<u8>(bits);
      break;
    case 2: {
      u16 v = static_cast<u16>(bits);
      std::memcpy(p, &v, 2);
      break;
    }
    default:
      std::memcpy(p, &bits, 4);
      break;
  }
}

namespace internal {

const char* Prefix::build() {
  size_t n = 0;
  for (int d = 0; d < depth_; ++d) {
    const size_t k = std::strlen(names_[d]);
    MX_CHECK(n + k + 2 <= sizeof(text_));
    std::memcpy(text_ + n, names_[d], k);
    text_[n + k] = '.';
    n += k + 1;
  }
  text_[n] = 0;
  built_ = true;
  return text_;
}

}  // namespace internal

void setAllPresence(const Leaf& f) {
  if (f.mask == nullptr) return;
  int n = f.perElement ? f.count : 1;
  for (int i = 0; i < n; ++i) setPresenceBit(f.mask, f.bit + i);
}

namespace {

u32 wordAt(const u8* base, u16 offset) {
  u32 w;
  std::memcpy(&w, base + offset, 4);
  return w;
}

}  // namespace

bool anyWord(const u8* base, const u16* offset, int count) {
  const u16* end = offset + count;
  // Eight words a test: records of many sub-records have hundreds.
  for (; end - offset >= 8; offset += 8) {
    u32 any = 0;
    for (int i = 0; i < 8; ++i) any |= wordAt(base, offset[i]);
    if (any != 0) return true;
  }
  for (; offset != end; ++offset) {
    if (wordAt(base, *offset) != 0) return true;
  }
  return false;
}

void kindRange(Kind kind, long long& lo, long long& hi) {
  switch (kind) {
    case Kind::U8: lo = 0; hi = 0xFF; break;
    case Kind::S8: lo = -0x80; hi = 0x7F; break;
    case Kind::U16: lo = 0; hi = 0xFFFF; break;
    case Kind::S16: lo = -0x8000; hi = 0x7FFF; break;
    case Kind::U32: lo = 0; hi = 0xFFFFFFFFLL; break;
    default: lo = -0x80000000LL; hi = 0x7FFFFFFF; break;
  }
}

namespace {

bool parseElement(Kind kind, std::string_view text, u32& bits) {
  std::string s(text);
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  if (kind == Kind::F32) {
    float v = std::strtof(s.c_str(), &end);
    if (*end != 0 || errno != 0) return false;
    std::memcpy(&bits, &v, 4);
    return true;
  }
  long long v = std::strtoll(s.c_str(), &end, 0);
  if (*end != 0 || errno != 0) return false;
  long long lo = 0, hi = 0;
  kindRange(kind, lo, hi);
  if (v < lo || v > hi) return false;
  bits = static_cast<u32>(v);
  return true;
}

std::string elementText(const Leaf& f, int i) {
  u32 v = loadElement(f, i);
  char buf[32];
  switch (f.kind) {
    case Kind::S8:
    case Kind::S16:
    case Kind::S32:
      std::snprintf(buf, sizeof buf, "%d", static_cast<int>(static_cast<s32>(v)));
      break;
    case Kind::F32: {
      float x;
      std::memcpy(&x, &v, 4);
      std::snprintf(buf, sizeof buf, "%g", static_cast<double>(x));
      break;
    }
    default:
      std::snprintf(buf, sizeof buf, "%u", v);
      break;
  }
  return buf;
}

void markElement(const Leaf& f, int i) {
  if (f.mask == nullptr) return;
  setPresenceBit(f.mask, f.perElement ? f.bit + i : f.bit);
}

}  // namespace

bool setTextLeaf(const Leaf& f, std::string_view name, std::string_view value, bool& found) {
  std::string full = std::string(f.prefix) + f.name;
  if (name.substr(0, full.size()) != full) return true;
  std::string_view rest = name.substr(full.size());
  if (rest.empty()) {
    found = true;
    // A whole field: one value per element, separated by commas; nothing changes on an error.
    std::vector<u32> values;
    for (size_t start = 0;;) {
      size_t comma = value.find(',', start);
      std::string_view item = value.substr(start, comma == std::string_view::npos ? value.size() - start : comma - start);
      u32 bits = 0;
      if (static_cast<int>(values.size()) >= f.count || !parseElement(f.kind, item, bits)) return false;
      values.push_back(bits);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
    for (size_t i = 0; i < values.size(); ++i) {
      storeElement(f, static_cast<int>(i), values[i]);
      if (!f.isMask) markElement(f, static_cast<int>(i));
    }
    return true;
  }
  if (rest.front() != '[' || rest.back() != ']') return true;
  found = true;
  u32 index = 0;
  if (!parseElement(Kind::U16, rest.substr(1, rest.size() - 2), index) || static_cast<int>(index) >= f.count) {
    return false;
  }
  u32 bits = 0;
  if (!parseElement(f.kind, value, bits)) return false;
  storeElement(f, static_cast<int>(index), bits);
  if (!f.isMask) markElement(f, static_cast<int>(index));
  return true;
}

void appendTextLeaf(const Leaf& f, std::string& out) {
  if (f.isMask) return;
  std::string full = std::string(f.prefix) + f.name;
  if (f.perElement) {
    for (int i = 0; i < f.count; ++i) {
      if (presenceBit(f.mask, f.bit + i)) out += full + "[" + std::to_string(i) + "]=" + elementText(f, i) + "\n";
    }
    return;
  }
  if (f.mask != nullptr && !presenceBit(f.mask, f.bit)) return;
  out += full + "=";
  for (int i = 0; i < f.count; ++i) {
    if (i > 0) out += ',';
    out += elementText(f, i);
  }
  out += "\n";
}

}  // namespace codec
