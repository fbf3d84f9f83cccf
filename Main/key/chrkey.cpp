// Chroma keys: the category of type 1, its command (type 77) and the chroma sample box.
#include "Main/key/chrkey.h"

#include <cmath>
#include <cstring>

#include "Common/shared.h"
#include "Driver/core/core.h"
#include "Driver/key/key.h"
#include "Main/key/key.h"
#include "Main/panel/operate.h"

namespace libmx {
namespace {

struct Raster {
  float h;           // position scale
  float widthScale;
  float lineScaleY;  // for the centre
  float lineScaleH;  // for the height
  int lines;
  int width;         // frame width
};

Raster rasterOf(int format) {
  switch (format) {
    case 4:
    case 5:
      return {1280, 1281, 720, 720, 720, 1280};
    case 6:
      return {720, 720, 244, 244, 244, 720};
    case 7:
      return {720, 721, 289, 288, 288, 720};
    default:
      return {1920, 1921, 540, 540, 540, 1920};
  }
}

int truncated(float v) { return static_cast<int>(std::trunc(v)); }

}  // namespace

SampleBox chromaSampleBox(int format, float x, float y, float s) {
  const Raster r = rasterOf(format);
  const float cx = x + 0.5f, cy = y + 0.5f;
  int left = truncated(cx * r.h - s * r.widthScale / 2.0f);
  int width = truncated(s * r.widthScale);
  int top = truncated(cy * r.lineScaleY - s * r.lineScaleH / 2.0f);
  int height = truncated(s * r.lineScaleH);

  // Format 6 keeps the start on the even pixel at or right of the left edge, within 718.
  const bool sd6 = format == 6;
  const int w = r.width;
  const int lastLeft = sd6 ? w - 1 : w;
  int start;
  if (left < 0) {
    width += left;
    left = 0;
    start = 0;
  } else if (left < lastLeft) {
    start = sd6 ? (left + 1) & ~1 : left & ~1;
  } else {
    start = w - 2;
    left = sd6 ? w - 2 : w - 1;
  }
  if (width < 0) width = 0;
  const int room = sd6 ? w - 1 - left : w - left;
  if (width >= room) width = room - 1;
  width &= ~1;

  const int lines = r.lines;
  if (top < 0) {
    height += top;
    top = 0;
  } else if (top > lines - 2) {
    top = lines - 1;
  }
  if (height < 0) height = 0;
  if (format == 7) {
    if (height > lines - top) height = lines - top;
  } else if (height >= lines - top) {
    height = lines - 1 - top;
  }
  return {start, top, width, height};
}

}  // namespace libmx

namespace category {
namespace {

using C = MxifChromaKey;

constexpr u32 bit(int b) { return 1u << b; }

constexpr int CHROMA_KEY_TYPE = KeyStyle::CHROMA_KEY_TYPE;
constexpr int INITIAL_PREVIOUS_SIZE = 10;
constexpr float FRAME_UNITS = 10000.0f;

// The mainframe configuration (type 26): a zero record while there is none.
const MxifMainframeConfig& mainframeConfig() {
  static const MxifMainframeConfig absent{};
  const MxifMainframeConfig* r = CategoryRegistry::instance().record<MxifMainframeConfig>();
  return r != nullptr ? *r : absent;
}

CategoryKey* keyCategoryOf(int me) { return CategoryRegistry::instance().find<CategoryKey>(TYPE_KEY, me); }

int keyTypeOf(CategoryKey* keys, int ch) { return keys != nullptr ? keys->keyType(ch) : 0; }

void markKeyChanged(int me, int ch) {
  if (KeyMemory* memory = CategoryOperate::registeredKeyMemory()) memory->setKeyChanged(me, ch);
}

}  // namespace

CategoryChromaKey* CategoryChromaKey::instance() {
  static CategoryChromaKey objects[N_ME];
  return objects;
}

int CategoryChromaKey::checkedChannel(int ch) {
  MX_CHECK(0 <= ch && ch < N_KEYS);
  return ch;
}

u8* CategoryChromaKey::backupBlock(int ch) {
  MX_CHECK(backup_ != nullptr);
  return backup_ + CHROMA_KEYER_BYTES * checkedChannel(ch);
}

const ChromaKeyBlock& CategoryChromaKey::workingBlock(int ch) { return blocks_[checkedChannel(ch)]; }

int CategoryChromaKey::bindStorage(void* area) {
  backup_ = static_cast<u8*>(area);
  records = reinterpret_cast<C*>(backup_ + BACKUP_BLOCK_BYTES);
  return BACKUP_BLOCK_BYTES + static_cast<int>(sizeof(C)) * N_CHANNELS;
}

void CategoryChromaKey::initData() {
  std::memset(backupBlock(0), 0, BACKUP_BLOCK_BYTES);
  for (int ch = 0; ch < N_CHANNELS; ++ch) {
    C& r = record(ch);
    r = C{};
    r.me = static_cast<u8>(me);
    r.channel = static_cast<u16>(ch);
  }
}

void CategoryChromaKey::initInternal() {
  for (int ch = 0; ch < N_KEYS; ++ch) {
    dirty[ch] = 0;
    blocks_[ch] = ChromaKeyBlock{};
    std::memcpy(&blocks_[ch], backupBlock(ch), CHROMA_KEYER_BYTES);
    polled_[ch] = ch == 0 ? 1 : 0;
    valid_[ch] = ch == 0 ? 1 : 0;
  }
  const C& first = record(0);
  sampleActive_ = 0;
  reapply_ = 1;
  current_ = {first.sampleKey, first.modeSelect, {first.sampleX, first.sampleY}, first.sampleSize};
  previous_ = Shared{};
  previous_.size = INITIAL_PREVIOUS_SIZE;
}

void CategoryChromaKey::resume(const void* saved, int flag) {
  CategoryCommon::resume(static_cast<const u8*>(saved) + BACKUP_BLOCK_BYTES, flag);
  for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch).channel = static_cast<u16>(ch);
  std::memcpy(backupBlock(0), saved, BACKUP_BLOCK_BYTES);
}

bool CategoryChromaKey::acceptField(const codec::FieldView& f, const C& in, int idx) {
  (void)idx;
  // The sample centre's two values share a bit: taken together.
  if (f.is(in.sampleX) || f.is(in.sampleY)) {
    const bool x = limits::takes(in, in.sampleX);
    return limits::takes(in, in.sampleY) && x;
  }
  return limits::check(in, f) == 1;
}

void CategoryChromaKey::receive(RequestReceiver& rx) {
  C in{};
  if (!readBody(rx, in)) return;
  rx.clearHeader();
  if (in.me >= N_ME || in.channel >= N_CHANNELS) return;
  auto* target = static_cast<CategoryChromaKey*>(CategoryRegistry::instance().get(TYPE_INDEX, in.me));
  target->assign(in, in.channel);
}

void CategoryChromaKey::assign(const C& in, int ch) {
  checkedChannel(ch);
  if (in.mask & (bit(C::RANGE_BASE) | bit(C::RANGE_WIDTH))) markKeyChanged(me, ch);
  C out{};
  codec::merge(out, in, [&](const codec::FieldView& f) { return acceptField(f, in, ch); });
  if (out.mask & bit(C::SAMPLE_KEY)) current_.sampleKey = out.sampleKey;
  if (out.mask & bit(C::MODE_SELECT)) current_.modeSelect = out.modeSelect;
  if (out.mask & bit(C::SAMPLE_CENTRE)) current_.centre[0] = out.sampleX, current_.centre[1] = out.sampleY;
  if (out.mask & bit(C::SAMPLE_SIZE)) current_.size = out.sampleSize;
  C& live = record(ch);
  codec::merge(live, out);
  live.me = static_cast<u8>(me);
  live.channel = static_cast<u16>(ch);
  dirty[ch] = 1;
}

void CategoryChromaKey::takeSharedFields(C& r) {
  if (current_.sampleKey != previous_.sampleKey) {
    r.sampleKey = current_.sampleKey;
    r.mask |= bit(C::SAMPLE_KEY);
  }
  if (current_.modeSelect != previous_.modeSelect) {
    r.modeSelect = current_.modeSelect;
    r.mask |= bit(C::MODE_SELECT);
  }
  if (current_.centre[0] != previous_.centre[0] || current_.centre[1] != previous_.centre[1]) {
    r.sampleX = current_.centre[0];
    r.sampleY = current_.centre[1];
    r.mask |= bit(C::SAMPLE_CENTRE);
  }
  if (current_.size != previous_.size) {
    r.sampleSize = current_.size;
    r.mask |= bit(C::SAMPLE_SIZE);
  }
}

int CategoryChromaKey::markedChannel() {
  CategoryKey* keys = keyCategoryOf(me);
  const MxifMainframeConfig& config = mainframeConfig();
  int marked = -1;
  for (int k = 0; k < N_KEYS; ++k) {
    const u8 listed = config.faderKeys[me].entries[k];
    if (listed == 1 && config.faderSelect == 4 * me + k && keyTypeOf(keys, k) == CHROMA_KEY_TYPE) marked = k;
  }
  return marked;
}

void CategoryChromaKey::update() {
  mxSelectContext(MX_CONTEXT_ME1 + me);
  CategoryKey* keys = keyCategoryOf(me);
  const int marked = markedChannel();
  const MainframeMeConfig& meConfig = mainframeConfig().meConfig[me];
  const bool tapAOff = meConfig.tapAIgnoreChroma == 1;
  const bool tapBOff = meConfig.tapBIgnoreChroma == 1;
  const MxifSystem* system = CategoryRegistry::instance().record<MxifSystem>();
  const int format = system != nullptr ? system->format : 0;

  for (int ch = 0; ch < N_KEYS; ++ch) {
    C& r = record(ch);
    const int target = MX_KEY1 + 2 * ch;
    const int chroma = keyTypeOf(keys, ch) == CHROMA_KEY_TYPE ? 1 : 0;
    takeSharedFields(r);
    sampleActive_ = 1 <= r.sampleKey && r.sampleKey <= 4 && keyTypeOf(keys, r.sampleKey - 1) == CHROMA_KEY_TYPE;
    const int modeB = r.modeSelect == 2 ? MX_CHROMA_MODE_B1 : r.modeSelect == 3 ? MX_CHROMA_MODE_B0 : MX_CHROMA_MODE_B2;
    mxKeySetTapFlag(MX_ME_OUT_2, tapAOff ? 0 : sampleActive_);
    mxKeySetTapFlag(MX_TAP_FLAG_B, tapBOff ? 0 : sampleActive_);
    mxKeySetTapFlag(MX_TAP_FLAG_LAYER, marked >= 0 ? 1 : 0);
    mxChromaKeySetMode(target, chroma, chroma, MX_CHROMA_MODE_A0, modeB);
    mxChromaKeySetRange(target, r.rangeBase, r.rangeWidth / 5);
    if (chroma == 0) continue;
    if (r.sampleKey - 1 == ch || ch == marked) {
      const float x = r.sampleX / FRAME_UNITS, y = -(r.sampleY / FRAME_UNITS), s = r.sampleSize / FRAME_UNITS;
      const libmx::SampleBox box = libmx::chromaSampleBox(format, x, y, s);
      mxChromaKeySetSampleArea(box.start, box.top, box.width, box.height);
    }
    if (reapply_) loadKeyer(ch);
  }
  previous_ = current_;
  reapply_ = 0;
  pollReadyWords();
}

void CategoryChromaKey::pollReadyWords() {
  for (int c = 1; c < N_KEYS; ++c) {
    if (polled_[c] != 0) continue;
    const u32 word = SharedMemory::instance().readWord(SMEM_CHROMA_READY + 4 * (c - 1));
    if (word == 0) continue;
    polled_[c] = 1;
    valid_[c] = word == CHROMA_READY_MAGIC ? 1 : 0;
    if (valid_[c]) loadKeyer(c);
  }
}

void CategoryChromaKey::loadKeyer(int ch) {
  if (ch < 0 || ch >= N_KEYS || valid_[ch] == 0) return;
  mxSelectContext(MX_CONTEXT_ME1 + me);
  const int target = MX_KEY1 + 2 * ch;
  const ChromaKeyBlock& b = blocks_[ch];
  mxChromaKeySetColorA(target, b.colorA[0], b.colorA[1], b.colorA[2]);
  mxChromaKeySetColorB(target, b.colorB[0], b.colorB[1], b.colorB[2]);
  mxChromaKeyWriteTable(target, b.table);
}

void CategoryChromaKey::readUnit(int ch) {
  SharedMemory::instance().readChromakey(4 * me + ch, &blocks_[ch], sizeof(ChromaKeyBlock));
  std::memcpy(backupBlock(ch), &blocks_[ch], CHROMA_KEYER_BYTES);
}

void CategoryChromaKey::receiveCommand(int id, RequestReceiver& rx) {
  using typelist::IndexOf;
  MX_CHECK_VALUE(id, IndexOf<MxifChromaKeyCmd>::value);
  MxifChromaKeyCmd cmd;
  if (!rx.readRecord(cmd)) return;
  if (!limits::takes(cmd, cmd.*MxifChromaKeyCmd::NO_ANSWER_OUTSIDE)) return;
  auto* target = static_cast<CategoryChromaKey*>(CategoryRegistry::instance().get(TYPE_INDEX, cmd.me));
  // A channel outside the four key channels has no block: refused like a kind out of range.
  if (!limits::takes(cmd, cmd.kind) || !limits::takes(cmd, cmd.channel)) {
    cmd.reply = MxifChromaKeyCmd::REFUSED;
  } else {
    target->readUnit(cmd.channel);
    target->loadKeyer(cmd.channel);
    markKeyChanged(cmd.me, cmd.channel);
    cmd.reply = MxifChromaKeyCmd::DONE;
  }
  if (!AcknowledgeSender::instance().writeRecord(IndexOf<MxifChromaKeyCmd>::value, cmd)) reportSendBufferFull();
}

void CategoryChromaKey::copyChannelData(int ch, ChromaKeyBlock& out) { out = blocks_[checkedChannel(ch)]; }

void CategoryChromaKey::loadChannelData(int ch, const ChromaKeyBlock& block) {
  ChromaKeyBlock& b = blocks_[checkedChannel(ch)];
  b = block;
  b.loaded = 1;
  std::memcpy(backupBlock(ch), &block, CHROMA_KEYER_BYTES);
  SharedMemory::instance().writeChromakey(4 * me + ch, &b, sizeof b);
  reapply_ = 1;
}

void CategoryChromaKey::reloadChannel(int ch) {
  readUnit(checkedChannel(ch));
  loadKeyer(ch);
}

int CategoryChromaKey::outputPointFlag(int ch) { return record(ch).outputPoint != 0 ? 1 : 0; }

}  // namespace category
