#pragma once
// The category model and the registry.
//
// A category owns one record type (or one command or event type) under a type index 0..103. It is
// a static singleton that registers itself from its constructor; per-ME categories are built four
// times and take ME rows 0, 1, 2, 3 in construction order.
//
// A record type T (a plain structure with a `fields` list, see codec.h) declares:
//   static constexpr int TYPE_INDEX = TYPE_BKGD;  // required, from Lib/Include/type_index.h
//   static constexpr int N_CHANNELS = 1;     // optional, default 1
//   static constexpr bool PER_ME = true;     // optional, default false; true: one instance per ME,
//                                            // and byte 4 of the record is the field `me`
//   static constexpr bool IS_STATUS = ...;   // optional, default TYPE_INDEX < 65
//
// A category that needs another category's record reads it as that record's structure through
// CategoryRegistry::record<R>(), never by byte offset.
#include "Main/framework/link.h"
#include "Lib/Include/type_names.h"
#include "Lib/Include/check.h"
#include "Lib/Include/codec.h"
#include "Lib/Include/text.h"
#include "Lib/Include/types.h"

namespace category {

// A category skips its status turn while more output than this is pending (half the stream).
constexpr int SEND_PENDING_LIMIT = 0x20000;

template <class T>
struct RecordInfo {
  static constexpr int TYPE_INDEX = T::TYPE_INDEX;
  static constexpr int N_CHANNELS = [] {
    if constexpr (requires { T::N_CHANNELS; }) {
      return static_cast<int>(T::N_CHANNELS);
    } else {
      return 1;
    }
  }();
  static constexpr bool PER_ME = [] {
    if constexpr (requires { T::PER_ME; }) {
      return static_cast<bool>(T::PER_ME);
    } else {
      return false;
    }
  }();
  // Records whose field list holds texts travel in the texts' wire form (Lib/Include/text.h).
  static constexpr bool HAS_TEXTS = [] {
    if constexpr (requires { T::HAS_TEXTS; }) {
      return static_cast<bool>(T::HAS_TEXTS);
    } else {
      return false;
    }
  }();
  static constexpr bool IS_STATUS = [] {
    if constexpr (requires { T::IS_STATUS; }) {
      return static_cast<bool>(T::IS_STATUS);
    } else {
      return T::TYPE_INDEX < FIRST_COMMAND_TYPE;
    }
  }();
};

// The largest packet body that a reader of the forms Forms (record or command structures) takes for
// type: the wire form of the one whose TYPE_INDEX it is (a record's texts at their capacity,
// Lib/Include/text.h). A type that none of them has has no form here: RequestReceiver::MAX_BODY.
template <class... Forms>
constexpr int largestBodyOf(int type) {
  static_assert(sizeof...(Forms) > 0);
  int largest = RequestReceiver::MAX_BODY;
  ((type == Forms::TYPE_INDEX ? (largest = static_cast<int>(codec::wireSize<Forms>())) : 0), ...);
  return largest;
}

class CategoryInterface {
 public:
  virtual ~CategoryInterface() = default;
  // 1 when one instance per ME may be registered.
  virtual int ownedByME() const = 0;
  virtual const char* typeName() const = 0;
  // Takes the storage area for the records; returns the bytes used (0: keeps no stored record).
  virtual int bindStorage(void* area) = 0;
  virtual void initialize() = 0;
  virtual void initData() = 0;
  virtual void initInternal() = 0;
  // Takes the records saved in the backup image (flag 0 at every start); a saved field that fails
  // its checks keeps its default and is noted with refuseSaved.
  virtual void resume(const void* saved, int flag = 0) = 0;
  // Per frame, before the backup copy.
  virtual void storeBackup() {}
  // Per frame, on the VSYNC side.
  virtual void update() {}
  // Main loop, every 30 ms.
  virtual void refresh() {}
  virtual void receive(RequestReceiver& rx) = 0;
  virtual void sendStatus(AcknowledgeSender& tx) = 0;
  virtual void send(AcknowledgeSender& tx, int part) = 0;
  virtual void receiveCommand(int type, RequestReceiver& rx);
  // The largest body its readers take for a type it owns (largestBodyOf the forms they read). A
  // longer one is dropped with its header before it is waited for.
  virtual int largestBody(int type) const {
    (void)type;
    return RequestReceiver::MAX_BODY;
  }

  // The ME row this instance was registered under.
  int meIndex() const { return me; }

 protected:
  // A resume notes the saved values that its checks refused: one per presence bit (fields that
  // share a bit count once together). Index bytes do not count, nor a refused value that equals what
  // the field keeps (a field never set), nor a field that the resume sets anew whatever was saved.
  void refuseSaved(int fields) { refused += fields; }

  int me = 0;

 private:
  int refused = 0;  // by the last resume that the registry ran
  friend class CategoryRegistry;
};

// Command categories whose queued work runs at the start of the frame (button events, switching
// commands) implement this besides their category base.
class FrameQueue {
 public:
  virtual void runQueue() = 0;

 protected:
  ~FrameQueue() = default;
};

class CategoryRegistry {
 public:
  static CategoryRegistry& instance() {
    static CategoryRegistry registry;
    return registry;
  }

  // Enters cat under type id in the next free ME row and tells it that row.
  void add(int id, CategoryInterface* cat);
  // The instance of type id for ME me; the ME 0 instance when that ME has none (may be null).
  CategoryInterface* get(int id, int me) {
    if (!isSlot(id, me)) checkSlot(id, me);
    CategoryInterface* cat = categories[me][id];
    return cat != nullptr ? cat : categories[0][id];
  }
  // The instance in ME row me of type id exactly (null when that row is empty).
  CategoryInterface* at(int id, int me) const {
    if (!isSlot(id, me)) checkSlot(id, me);
    return categories[me][id];
  }
  // Makes owner (a type index) the handler of command type type.
  void setCommandOwner(int type, int owner);

  // The instance of type id for ME me (as get) as category class C; null when there is none or it
  // is of another class.
  template <class C>
  C* find(int id, int me = 0) {
    return as<C>(get(id, me));
  }
  // The instance in ME row me of type id exactly (as at) as category class C, or null.
  template <class C>
  C* findAt(int id, int me) const {
    return as<C>(at(id, me));
  }
  // cat as category class C; null when cat is null or of another class. The frame asks the same
  // instances every frame, so the casts found are kept, the last two per class and ME row, until
  // the tables next change (a registration or a reset).
  template <class C>
  C* as(CategoryInterface* cat) const {
    struct Found {
      const CategoryInterface* from;
      C* to;
      u32 generation;
    };
    static Found found[N_ME][2];
    if (cat == nullptr) return nullptr;
    Found* row = found[cat->meIndex()];
    for (int i = 0; i < 2; ++i) {
      if (row[i].from == cat && row[i].generation == generation) return row[i].to;
    }
    C* to = dynamic_cast<C*>(cat);
    // Only a cast that succeeded is kept: one asked while the instance is still being built may
    // fail and later succeed.
    if (to != nullptr) {
      row[1] = row[0];
      row[0] = {cat, to, generation};
    }
    return to;
  }

  // The stored record of another category, read as its structure R (type R::TYPE_INDEX): channel
  // channel of the ME me instance (the ME 0 instance when that ME has none). Null while that
  // category is absent or has bound less than the record.
  template <class R>
  const R* record(int me = 0, int channel = 0) const {
    static_assert(0 <= R::TYPE_INDEX && R::TYPE_INDEX < N_TYPES);
    static_assert(alignof(R) <= 4, "records are bound at 4-byte boundaries");
    MX_CHECK(0 <= me && me < N_ME);
    MX_CHECK(0 <= channel);
    const int row = categories[me][R::TYPE_INDEX] != nullptr ? me : 0;
    const u8* area = storage[row][R::TYPE_INDEX];
    if (area == nullptr || recordBytes[row][R::TYPE_INDEX] < static_cast<s32>(sizeof(R)) * (channel + 1))
      return nullptr;
    return reinterpret_cast<const R*>(area) + channel;
  }

  // Per frame (VSYNC side): queued events, requests, updates, profiling, status, backup.
  void process();
  // Main loop: refresh on every instance.
  void refreshAll();
  // The status rotation and the flush of the output stream.
  void sendAll(AcknowledgeSender& tx);
  // The request dispatcher (Main/framework/link.cpp).
  void receiveAll();
  // Every instance's update, in the order of the update priorities.
  void updatePass();
  // The largest body of packet type type that its reader takes; a longer one is dropped with its
  // header. RequestReceiver::MAX_BODY for a type without a form of its own (no reader).
  int largestBody(int type) const;

  // Start-up (Main/framework/backup.cpp): binds the storage of every instance, then initialises or resumes.
  void initialize();
  void initializeAll();
  // Resumes each instance of ME rows 0 and 1 from its records in image, when they lie wholly within
  // its first heldBytes (the part that was stored); the others start from their defaults.
  void resumeAll(const void* image, int heldBytes);
  void initAfterResume();
  // Per frame, unless the boot mode read at start-up keeps no backup: every instance's storeBackup,
  // then backupCopy.
  void backup();
  // The copy of the backup buffer to the non-volatile window.
  void backupCopy();
  // Binds the instance of (me, id) at area and notes where and how much (rounded up to 4). Returns
  // the rounded byte count; 0 when there is no such instance.
  int bindInstance(int me, int id, u8* area);

  // Empties every table (program start; tests).
  void reset();
  // The link's start state: no frames to wait, status sending on, the rotation at phase 0.
  void resetLinkState();

  // What the tables hold, by type index (and ME row).
  int instanceCount(int id) const;
  int commandOwnerOf(int type) const;
  int updatePriorityOf(int type) const;
  u8* storageOf(int id, int me) const;
  int boundBytes(int id, int me) const;
  int waitFramesLeft() const { return waitFrames; }
  bool isSendEnabled() const { return sendEnabled != 0; }
  int statusPhase() const { return phase; }

 private:
  CategoryRegistry() { reset(); }
  static bool isSlot(int id, int me) { return 0 <= me && me < N_ME && 0 <= id && id < N_TYPES; }
  // The checks of a table slot (ME row and type index); they log and throw for one outside.
  static void checkSlot(int id, int me);
  // Lists the instances and the update order again from the tables; the passes that go over the
  // lists do it first when the tables changed since (registrations come one by one at start-up).
  void listInstances();
  void listIfStale() {
    if (listStale) listInstances();
  }
  void profile();
  // Whether the event memory record asks for the 16-phase status rotation.
  bool rotatesStatus() const;
  // The request dispatcher's parts (Main/framework/link.cpp): a wait command (true when frames are
  // now to be waited), and any other packet handed to its category.
  bool receiveWait(RequestReceiver& rx);
  void dispatch(RequestReceiver& rx);
  // The category that takes packets of type (a record type's own, else the command owner's); null
  // when none does.
  CategoryInterface* handlerOf(int type) const;

  // Tables, by ME row and type index.
  CategoryInterface* categories[N_ME][N_TYPES];
  // Bytes bound for each instance's records (rounded up to 4); rows 0 and 1 make up the backup image.
  s32 recordBytes[N_ME][N_TYPES];
  // Where each instance's records were bound (null: not bound or no record).
  u8* storage[N_ME][N_TYPES];
  s32 count[N_TYPES];
  s32 commandOwner[N_TYPES];
  s32 updatePriority[N_TYPES];
  // Every instance by type index, then ME row: the order of the status, backup and refresh passes.
  CategoryInterface* instances[N_ME * N_TYPES];
  s32 listed;
  // The type indexes that have instances, in update order (priority 1 to 10, then type index).
  s32 updateOrder[N_TYPES];
  s32 updateCount;
  bool listStale = true;
  // Bumped whenever the tables of instances change (the casts kept by as() are then stale).
  u32 generation = 0;
  s32 waitFrames;
  u8 sendEnabled;
  s32 phase;

  // Profiling of the update pass (while on-chip word 0xFFFF0010 is non-zero).
  u32 updateUs[N_TYPES];
  u32 updateMaxUs[N_TYPES];
  s32 profileFrames;
};

void registerCategory(CategoryInterface* cat, int id);

// Writes the packet of a record with texts; false when it does not fit. The wire form is built in
// one piece and stored in the output stream as one run (a record whose texts hold more than their
// capacity would not fit that piece, and goes byte by byte).
template <class T>
bool writeTextPacket(AcknowledgeSender& tx, int type, const T& r) {
  const u32 n = libmx::textRecordWireLength(r);
  if (!tx.beginPacket(type, n)) return false;
  u8 bytes[AcknowledgeSender::PACKET_RESERVE];
  if (n > sizeof bytes) {
    libmx::writeTextRecord(tx.stream(), r);
    return true;
  }
  struct Span {
    u8* p;
    void write(u8 b) { *p++ = b; }
  } span{bytes};
  libmx::writeTextRecord(span, r);
  tx.stream().write(bytes, static_cast<int>(n));
  return true;
}

// A category that owns a record type T with N_CHANNELS channels.
template <class T>
class CategoryCommon : public CategoryInterface {
 public:
  static constexpr int TYPE_INDEX = RecordInfo<T>::TYPE_INDEX;
  static constexpr int N_CHANNELS = RecordInfo<T>::N_CHANNELS;
  static constexpr bool isStatus = RecordInfo<T>::IS_STATUS;

  CategoryCommon() {
    MX_CHECK(isStatus);
    for (auto& d : dirty) d = 0;
    registerCategory(this, TYPE_INDEX);
  }

  int ownedByME() const override { return RecordInfo<T>::PER_ME ? 1 : 0; }
  const char* typeName() const override { return typeNameOf(TYPE_INDEX); }
  int bindStorage(void* area) override {
    records = static_cast<T*>(area);
    return static_cast<int>(sizeof(T)) * N_CHANNELS;
  }
  void initialize() override {
    initData();
    initInternal();
  }
  // Default records: every field and presence word 0.
  void initData() override {
    for (int ch = 0; ch < N_CHANNELS; ++ch) record(ch) = T{};
  }
  void initInternal() override {
    for (auto& d : dirty) d = 0;
  }
  // Takes every saved field through the same checks as assign (a field that fails keeps its
  // default, and is noted), then sets every presence bit so the first status sends each record whole.
  void resume(const void* saved, int flag = 0) override {
    (void)flag;
    initData();
    for (int ch = 0; ch < N_CHANNELS; ++ch) {
      T in;
      std::memcpy(static_cast<void*>(&in), static_cast<const u8*>(saved) + sizeof(T) * ch, sizeof(T));
      codec::setAllPresence(in);
      const auto accept = [&](const codec::FieldView& f) { return acceptField(f, in, ch); };
      refuseSaved(codec::mergeCountRefused(record(ch), in, accept));
      codec::setAllPresence(record(ch));
      setMe(record(ch));
    }
  }

  // Reads one record and hands it to the instance and channel that byte 4 names (dropped when
  // out of range).
  void receive(RequestReceiver& rx) override {
    T in{};
    if (!readBody(rx, in)) return;
    rx.clearHeader();
    int index = indexByte(in);
    if constexpr (RecordInfo<T>::PER_ME) {
      if (index >= N_ME) return;
      auto* target = static_cast<CategoryCommon<T>*>(CategoryRegistry::instance().get(TYPE_INDEX, index));
      target->assign(in, 0);
    } else if constexpr (N_CHANNELS > 1) {
      if (index >= N_CHANNELS) return;
      assign(in, index);
    } else {
      assign(in, 0);
    }
  }

  void sendStatus(AcknowledgeSender& tx) override {
    for (int ch = nextChanged(0); ch < N_CHANNELS; ch = nextChanged(ch + 1)) {
      if (!writeChannel(tx, ch)) break;
    }
  }
  void send(AcknowledgeSender& tx, int part) override { sendChannel(tx, part); }
  int largestBody(int type) const override { return largestBodyOf<T>(type); }

  // Merges the fields whose presence bits are set (and that acceptField lets through) into the
  // channel and marks it dirty.
  virtual void assign(T const& in, int idx) {
    T& live = record(idx);
    codec::merge(live, in, [&](const codec::FieldView& f) { return acceptField(f, in, idx); });
    setMe(live);
    dirty[idx] = 1;
  }

  T& record(int idx) {
    MX_CHECK(0 <= idx && idx < N_CHANNELS);
    MX_CHECK(records != nullptr);  // bound at start-up
    return records[idx];
  }

 protected:
  // Validation hook of assign and resume: return false to drop field f of the incoming record
  // (its presence bit stays clear). Use f.is(in.member) to tell fields apart.
  virtual bool acceptField(const codec::FieldView& f, const T& in, int idx) {
    (void)f;
    (void)in;
    (void)idx;
    return true;
  }

  // Writes the channel when it changed. Returns false (channel kept) when more than half the
  // output stream is pending.
  bool sendChannel(AcknowledgeSender& tx, int ch) {
    if (dirty[ch] == 0 && !codec::hasAny(record(ch))) return true;
    return writeChannel(tx, ch);
  }

  // The first channel from ch on that changed (N_CHANNELS when none did).
  int nextChanged(int ch) const {
    MX_CHECK(records != nullptr);  // bound at start-up
    const codec::PresenceWords<T>& presence = codec::presenceWords<T>();
    while (ch < N_CHANNELS && dirty[ch] == 0 && !codec::hasAny(records[ch], presence)) ++ch;
    return ch;
  }

 private:
  // The part of sendChannel that writes, out of line: the status pass skips unchanged channels in
  // a short loop.
  [[gnu::noinline]] bool writeChannel(AcknowledgeSender& tx, int ch) {
    if (tx.pending() > SEND_PENDING_LIMIT) return false;
    T& r = record(ch);
    setMe(r);
    if (!writePacket(tx, r)) reportSendBufferFull();
    dirty[ch] = 0;
    codec::clearPresence(r);
    return true;
  }

 protected:
  // Reads a record from the packet body; false (logged when short) when it must be dropped.
  static bool readBody(RequestReceiver& rx, T& in) {
    if constexpr (RecordInfo<T>::HAS_TEXTS) {
      if (libmx::readTextRecord(rx, in)) return true;
      rx.reportShort();
      return false;
    } else {
      return rx.readRecord(in);
    }
  }

  // Writes the record's packet; false when it does not fit.
  static bool writePacket(AcknowledgeSender& tx, const T& r) {
    if constexpr (RecordInfo<T>::HAS_TEXTS) {
      return writeTextPacket(tx, TYPE_INDEX, r);
    } else {
      return tx.writeRecord(TYPE_INDEX, r);
    }
  }

  void setMe(T& r) {
    if constexpr (RecordInfo<T>::PER_ME) r.me = static_cast<decltype(r.me)>(me);
  }

  static int indexByte(const T& r) {
    static_assert(sizeof(T) > 4, "byte 4 of a record is its index");
    return reinterpret_cast<const u8*>(&r)[4];
  }

  u8 dirty[N_CHANNELS];
  T* records = nullptr;
};

// A command or event type that keeps no record; the derived class implements receiveCommand.
template <class T>
class CategoryWithoutStatus : public CategoryInterface {
 public:
  static constexpr int TYPE_INDEX = RecordInfo<T>::TYPE_INDEX;
  static constexpr bool isStatus = RecordInfo<T>::IS_STATUS;

  CategoryWithoutStatus() {
    MX_CHECK(isStatus == false);
    MX_CHECK(TYPE_INDEX >= 0);
    registerCategory(this, TYPE_INDEX);
    CategoryRegistry::instance().setCommandOwner(TYPE_INDEX, TYPE_INDEX);
  }

  int ownedByME() const override { return 0; }
  const char* typeName() const override { return typeNameOf(TYPE_INDEX); }
  int bindStorage(void* area) override {
    (void)area;
    return 0;
  }
  void initialize() override {
    initData();
    initInternal();
  }
  void initData() override {}
  void initInternal() override {}
  void resume(const void* saved, int flag = 0) override {
    (void)saved;
    (void)flag;
  }
  void receive(RequestReceiver& rx) override { (void)rx; }
  int largestBody(int type) const override { return largestBodyOf<T>(type); }
  void sendStatus(AcknowledgeSender& tx) override { (void)tx; }
  void send(AcknowledgeSender& tx, int part) override {
    (void)tx;
    (void)part;
  }
};

}  // namespace category
