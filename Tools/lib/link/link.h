#pragma once
// The front-end peer: attaches to the link memory of a running back end's board directory and
// talks to it as the front-end processor does. Used by the `frontend` program and by tests; its
// commands are listed by `frontend --help`.
#include <iosfwd>
#include <functional>
#include <string>
#include <vector>

#include "Tools/lib/link/ring.h"
#include "Tools/lib/link/table.h"
#include "Tools/lib/records/types.h"

namespace frontend {

using linkpeer::Packet;

// link.mem of a board directory, mapped shared. Only this file is touched; the front end writes
// the request ring's write index and the read indexes of the acknowledgement and console rings. The
// acknowledgement ring's read index is shared through the tools' table (Tools/lib/link/table.h).
class Link {
 public:
  Link() = default;
  ~Link() { close(); }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Maps DIR/link.mem, waiting up to timeout seconds for the back end to create it (not when it is
  // there but cannot be opened: the system's reason then, at once). The timeout also bounds the
  // waits for the tools' locks. readOnly: a file this process may not write is mapped to be read
  // only (readOnly() then holds), for the console's lines; nothing is written into it then.
  bool open(const std::string& dir, double timeout, std::string& error, bool readOnly = false);
  bool readOnly() const { return readOnly_; }
  void close();
  bool isOpen() const { return base_ != nullptr; }
  const std::string& dir() const { return dir_; }
  double timeout() const { return timeout_; }

  u8* requestRing() { return base_ + LINK_REQUEST_OFFSET; }
  u8* ackRing() { return base_ + LINK_ACK_OFFSET; }
  u8* console() { return base_ + LINK_CONSOLE_OFFSET; }
  const u8* notes() const { return base_ + LINK_NOTES_OFFSET; }

  // Writes the bytes whole, waiting up to timeout seconds for room and for the locks; false (nothing
  // written) when they do not fit in time, a lock is not let go or the tools' table cannot be read or
  // written, error() then saying why. True once the bytes are out (the store of the ring's write
  // index); error() is then empty, or says why the tools' table could not be written after that, so
  // that what becomes of the bytes cannot be followed. Front ends on the same link take turns (a lock
  // on link.mem), so two requests never land on the same bytes.
  struct Written {
    u32 end = 0;              // the ring index just past the bytes
    bool unfinished = false;  // the back end's framing begins no header at their first byte: bytes
                              // written before left a header or a body unfinished that takes them,
                              // as far as the tools wrote those
    std::string start;        // the back end's start that ran throughout the write ("" if none did)
  };
  // prepare, where given, runs in the writer's turn before the bytes go: it may set them anew from
  // the state that every request before them leaves (false: nothing is written, error() says why).
  using Prepare = std::function<bool(Bytes& bytes, std::string& error)>;
  bool write(const Bytes& bytes, double timeout, Written* written = nullptr, const Prepare& prepare = {});
  const std::string& error() const { return error_; }
  // Takes up to max complete packets of those waiting in the acknowledgement ring (as
  // `watch --waiting` shows them); bytes that start no packet are skipped and counted in garbage().
  std::vector<Packet> takePackets(size_t max = SIZE_MAX);
  size_t garbage() const { return garbage_; }
  // The console ring's complete lines since the last take (or since any front end last took them),
  // handed to `write`; they are taken once it returns true, so lines that could not be written stay
  // for the next reader. Mapped read only, the front end's read index stays where it is, and lines
  // are taken from a place of this process's own.
  bool takeConsole(const std::function<bool(const std::string& lines)>& write) {
    return linkpeer::consoleTake(console(), readOnly_ ? &consoleFrom_ : nullptr, write);
  }
  std::string takeConsole() {
    std::string taken;
    takeConsole([&](const std::string& lines) { return taken = lines, true; });
    return taken;
  }

 private:
  u8* base_ = nullptr;
  int fd_ = -1;  // link.mem, kept open for the writers' lock
  std::string dir_;
  double timeout_ = 0;
  bool readOnly_ = false;
  u32 consoleFrom_ = 0;  // mapped read only: where the console's next lines start
  size_t garbage_ = 0;
  std::string error_;
};

// Bodies of the panel events and the wait command in their wire form, through the field lists that
// the back end reads them with.
Bytes buttonEventBody(u16 code, bool pressed, u8 me, u8 panel, u8 index);
Bytes faderEventBody(u8 lever, u16 value, u8 panel);
Bytes waitBody(s16 frames);

// Parses "send" words (TYPE field=value ...) into a request, filling nothing (parseRequest); false
// with a usage error.
bool parseSendWords(const std::vector<std::string>& words, Request& request, std::string& error,
                    RequestContext* context = nullptr);
// Parses "send" words into a packet, filled from the context's current; false with a message. The
// context, if any, is buildBody's.
bool sendPacket(const std::vector<std::string>& words, Bytes& packet, std::string& error,
                RequestContext* context = nullptr);
// Parses hexadecimal words into bytes (spaces between bytes optional); false on a bad word (*bad,
// where given, gets it).
bool parseHex(const std::vector<std::string>& words, Bytes& bytes, std::string* bad = nullptr);

// One line describing a packet (no newline).
std::string describe(const Packet& p);

// Runs the program: args without the program name. Returns the exit status (0 success, 1 no back
// end, a refused request, a time-out, a request not sent or out not written, 2 a usage error, 3 a
// request sent whose answer was not seen or cannot be followed).
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace frontend
