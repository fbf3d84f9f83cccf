#include "Tools/lib/records/view.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "Lib/Include/text.h"
#include "Lib/Include/type_names.h"
#include "Tools/lib/cli.h"

namespace frontend::records {

RecordBytes::RecordBytes(const RecordType& type, const u8* from) : words_((type.shape.size + 7) / 8) {
  type.make(data());
  if (from != nullptr) std::memcpy(data(), from, type.shape.size);
}

void setAllPresence(const RecordType& type, u8* record) {
  forEachLeaf(type, record, [](const codec::Leaf& f) { codec::setAllPresence(f); });
}

RecordView::RecordView(const RecordType& type, const u8* from) : type_(type), record_(type, from) {
  type.walk(record_.data(), *this);
}

void RecordView::leaf(const codec::Leaf& f) {
  Field& x = fields_.emplace_back(Field{f, f.prefix, std::string(f.prefix) + f.name, 0, f.textCapacity});
  x.leaf.prefix = x.prefix.c_str();
  x.offset = static_cast<size_t>(f.data - record_.data());
}

bool RecordView::setText(const std::string& name, const std::string& word) {
  for (size_t i = 0; i + 1 < fields_.size(); ++i) {
    Field& f = fields_[i];
    if (f.textCapacity <= 0 || f.name != name) continue;
    std::string value, why;
    if (!textOfWord(word, value, why) || value.size() > static_cast<size_t>(f.textCapacity)) return false;
    const codec::Leaf& chars = fields_[i + 1].leaf;
    std::memset(chars.data, 0, static_cast<size_t>(chars.count));
    std::memcpy(chars.data, value.data(), value.size());
    codec::storeElement(f.leaf, 0, static_cast<u32>(value.size()));
    codec::setPresenceBit(f.leaf.mask, f.leaf.bit);
    return true;
  }
  return false;
}

std::string RecordView::textValue(const Field& count) const {
  for (size_t i = 0; i + 1 < fields_.size(); ++i) {
    if (&fields_[i] == &count) return quotedText(fields_[i + 1].leaf.data, count.textCapacity + 1);
  }
  return "";
}

std::string quotedText(const u8* chars, int n) {
  std::string out = "\"";
  for (int c = 0; c < n && chars[c] != 0; ++c) {
    const u8 ch = chars[c];
    if (libmx::isPlainTextChar(ch)) {
      out += static_cast<char>(ch);
    } else if (ch == '"' || ch == libmx::TEXT_ESCAPE) {
      out += static_cast<char>(libmx::TEXT_ESCAPE);
      out += static_cast<char>(ch);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", ch);
      out += hex;
    }
  }
  return out + "\"";
}

bool textOfWord(const std::string& word, std::string& chars, std::string& why) {
  chars.clear();
  if (word.empty() || word[0] != '"') return chars = word, true;
  const auto hex = [](char h) { return std::isxdigit(static_cast<unsigned char>(h)) != 0; };
  for (size_t i = 1; i < word.size(); ++i) {
    const char c = word[i];
    if (c == '"') {
      if (i + 1 == word.size()) return true;
      return why = word.substr(i + 1) + " after the double quote that ends the text", false;
    }
    if (static_cast<u8>(c) != libmx::TEXT_ESCAPE) {
      chars += c;
    } else if (i + 1 < word.size() && libmx::isTextEscape(static_cast<u8>(word[i + 1]))) {
      chars += word[++i];
    } else if (i + 3 < word.size() && word[i + 1] == 'x' && hex(word[i + 2]) && hex(word[i + 3])) {
      const char byte = static_cast<char>(std::stoi(word.substr(i + 2, 2), nullptr, 16));
      if (byte == 0) return why = "a text holds no zero byte (\\x00): it ends the text", false;
      chars += byte;
      i += 3;
    } else {
      return why = word.substr(i, 2) + " is no escape: in double quotes a text takes \\\" \\\\ \\' and \\x followed by two "
                                         "hexadecimal digits",
             false;
    }
  }
  return why = "no double quote ends the text", false;
}

const Field* RecordView::find(const std::string& name, int& element) const {
  if (byName_.empty()) {
    for (size_t i = 0; i < fields_.size(); ++i) {
      const Field& f = fields_[i];
      if (f.textCapacity > 0) ++i;  // the characters go with their count
      if (!f.leaf.isMask) byName_.try_emplace(f.name, &f);
    }
  }
  element = -1;
  if (auto at = byName_.find(name); at != byName_.end()) return at->second;
  const size_t open = name.rfind('[');
  long e = 0;
  if (open == std::string::npos || name.back() != ']' ||
      !cli::parseNumber(name.substr(open + 1, name.size() - open - 2), 0, 0xFFFF, e)) {
    return nullptr;
  }
  auto at = byName_.find(name.substr(0, open));
  if (at == byName_.end() || at->second->textCapacity > 0) return nullptr;
  element = static_cast<int>(e);
  return at->second;
}

std::vector<const Field*> RecordView::settable() const {
  std::vector<const Field*> out;
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (!fields_[i].leaf.isMask) out.push_back(&fields_[i]);
    if (fields_[i].textCapacity > 0) ++i;
  }
  return out;
}

namespace {

// The values as the codec reads them, each as the operator wrote it in decimal (an integer rewritten
// without its leading zeroes, which the codec would read as octal); false for any other form.
bool decimalValues(codec::Kind kind, const std::string& value, std::string& out) {
  out.clear();
  for (size_t start = 0;;) {
    const size_t comma = value.find(',', start);
    const std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    long long whole = 0;
    double number = 0;
    if (kind == codec::Kind::F32 ? !cli::parseDecimal(item, number) : !cli::parseWhole(item, whole)) return false;
    out += (start == 0 ? "" : ",") + (kind == codec::Kind::F32 ? item : std::to_string(whole));
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
}

}  // namespace

bool RecordView::setValue(const std::string& name, const std::string& value) {
  int element = -1;
  const Field* f = find(name, element);
  std::string values;
  if (f == nullptr || !decimalValues(f->leaf.kind, value, values)) return false;
  bool found = false;
  const std::string named = element >= 0 ? f->name + "[" + std::to_string(element) + "]" : f->name;
  return codec::setTextLeaf(f->leaf, named, values, found) && found;
}

void RecordView::write(Bytes& out) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    const int width = codec::widthOf(f.leaf.kind);
    for (int e = 0; e < f.leaf.count; ++e) {
      const u32 v = codec::loadElement(f.leaf, e);
      for (int b = width - 1; b >= 0; --b) out.push_back(static_cast<u8>(v >> (8 * b)));
    }
    if (f.textCapacity > 0) {
      const int count = static_cast<s16>(codec::loadElement(f.leaf, 0));
      const u8* chars = fields_[++i].leaf.data;
      for (int c = 0; c <= count; ++c) out.push_back(c <= f.textCapacity ? chars[c] : 0);
    }
  }
}

size_t RecordView::wireOffset(const Field& field, int element) const {
  size_t at = 0;
  for (size_t i = 0; i < fields_.size() && &fields_[i] != &field; ++i) {
    const Field& f = fields_[i];
    at += static_cast<size_t>(codec::widthOf(f.leaf.kind) * f.leaf.count);
    if (f.textCapacity <= 0) continue;
    const int count = static_cast<s16>(codec::loadElement(f.leaf, 0));
    at += count >= 0 ? static_cast<size_t>(count) + 1 : 0;
    ++i;  // the characters
  }
  return at + static_cast<size_t>(codec::widthOf(field.leaf.kind) * element);
}

bool RecordView::read(const u8* data, size_t size) {
  libmx::WireIn in(data, size);
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    const int width = codec::widthOf(f.leaf.kind);
    for (int e = 0; e < f.leaf.count; ++e) {
      u32 v = 0;
      for (int b = 0; b < width; ++b) v = (v << 8) | in.readU8();
      codec::storeElement(f.leaf, e, v);
    }
    if (f.textCapacity > 0) {
      const u16 n = static_cast<u16>(codec::loadElement(f.leaf, 0));
      u8* chars = fields_[++i].leaf.data;
      if (n & 0x8000u) continue;
      const int stored = n < f.textCapacity ? n + 1 : f.textCapacity + 1;
      for (int c = 0; c < stored; ++c) chars[c] = in.readU8();
      in.skip(n + 1 - stored);
    }
  }
  return !in.isShort();
}

std::string RecordView::text(const Field* skip, const Field* skip2) const {
  std::string out;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    if (&f == skip || &f == skip2) continue;
    if (f.textCapacity > 0) {
      const Field& chars = fields_[++i];
      if (codec::presenceBit(f.leaf.mask, f.leaf.bit)) out += " " + f.name + "=" + quotedText(chars.leaf.data, f.textCapacity + 1);
      continue;
    }
    std::string lines;
    codec::Leaf leaf = f.leaf;
    // An array whose elements are all carried reads as one list, as an array without bits does.
    bool whole = leaf.perElement && leaf.count > 1;
    for (int e = 0; whole && e < leaf.count; ++e) whole = codec::presenceBit(leaf.mask, leaf.bit + e);
    if (whole) leaf.mask = nullptr, leaf.perElement = false;
    codec::appendTextLeaf(leaf, lines);
    for (size_t start = 0; start < lines.size();) {
      const size_t end = lines.find('\n', start);
      out += ' ';
      out.append(lines, start, end - start);
      start = end + 1;
    }
  }
  return out;
}

int indexLimit(const RecordShape& shape) { return shape.perMe ? category::N_ME : shape.channels; }

IndexFields indexFields(RecordView& view) {
  IndexFields out;
  for (Field& f : view.fields()) {
    if (f.leaf.instance == codec::Instance::ME) out.me = &f;
    if (f.leaf.instance == codec::Instance::CHANNEL) out.channel = &f;
  }
  return out;
}

std::string indexText(const IndexFields& x) {
  std::string out;
  if (x.me != nullptr) out += " me=" + std::to_string(codec::loadElement(x.me->leaf, 0));
  if (x.channel != nullptr) out += " channel=" + std::to_string(codec::loadElement(x.channel->leaf, 0));
  return out;
}

std::string elementName(const Field& f, int element) {
  std::string out = f.name;
  if (f.leaf.count > 1) out.append("[").append(std::to_string(element)).append("]");
  return out;
}

std::pair<const u32*, int> presenceOf(const codec::Leaf& leaf, int element) {
  if (leaf.mask == nullptr) return {nullptr, 0};
  const int bit = leaf.bit + (leaf.perElement ? element : 0);
  return {leaf.mask + bit / 32, bit % 32};
}

std::vector<const Field*> fieldsUnderBit(const RecordView& view, const Field& field, int element) {
  std::vector<const Field*> out;
  const auto bit = presenceOf(field.leaf, element);
  if (bit.first == nullptr || field.leaf.perElement) return out;
  for (const Field& g : view.fields()) {
    if (!g.leaf.isMask && !g.leaf.perElement && g.textCapacity == 0 && presenceOf(g.leaf, 0) == bit) out.push_back(&g);
  }
  return out;
}

std::vector<Target> bitPartners(const RecordView& view, const Target& t) {
  std::vector<Target> out;
  for (const Field* g : fieldsUnderBit(view, *t.field, t.element)) {
    for (int e = 0; e < g->leaf.count; ++e) {
      if (g != t.field || e != t.element) out.push_back({g, e});
    }
  }
  return out;
}

u32 bitsOf(codec::Kind kind, double value) {
  if (kind == codec::Kind::F32) {
    const float f = static_cast<float>(value);
    u32 b;
    std::memcpy(&b, &f, 4);
    return b;
  }
  return static_cast<u32>(static_cast<long long>(value));
}

double numberOf(codec::Kind kind, u32 bits) {
  if (kind == codec::Kind::F32) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  long long lo = 0, hi = 0;
  codec::kindRange(kind, lo, hi);
  return lo < 0 ? static_cast<double>(static_cast<s32>(bits)) : static_cast<double>(bits);
}

std::string numberText(double v) {
  char b[40];
  if (v == std::floor(v) && std::fabs(v) < 9007199254740992.0) {
    std::snprintf(b, sizeof b, "%lld", static_cast<long long>(v));
  } else {
    std::snprintf(b, sizeof b, "%.9g", v);
  }
  return b;
}

const char* statusSetter(const Field& f, int element) {
  const codec::Tag& tag = f.leaf.tag;
  return tag.role == codec::Role::STATUS && tag.covers(element) ? tag.setBy : nullptr;
}

std::string rangeText(const Field& f) {
  if (f.textCapacity > 0) return "text of up to " + std::to_string(f.textCapacity) + " bytes";
  if (f.leaf.kind == codec::Kind::F32) return "a number";
  long long lo = 0, hi = 0;
  codec::kindRange(f.leaf.kind, lo, hi);
  return std::to_string(lo) + ".." + std::to_string(hi);
}

}  // namespace frontend::records
