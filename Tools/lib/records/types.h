#pragma once
// Records and commands of the link by type name, in their text form: building a request body from
// "field=value" words, and describing a received body as one line. Every record that this program
// is built with (data_internal.h) is known by its field list; other types are known by name only.
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Lib/Include/codec.h"
#include "Lib/Include/rules.h"
#include "Lib/Include/types.h"
#include "Tools/lib/link/ring.h"

namespace frontend {

using Bytes = std::vector<u8>;
using Assignments = std::vector<std::pair<std::string, std::string>>;

// Type index of a name ("MxifSystem", "waitCmd", ...), or of a decimal index 0..103; -1 if none.
int typeIndexOf(std::string_view name);

// Whether the record of the type is built into this program.
bool isRecordBuilt(int type);

// Whether the record of the type declares what its fields take (Lib/Include/limits.h).
bool declaresLimits(int type);

// The rules that the record of the type declares with its fields, each once (none for a type that
// declares no limits or is not built).
std::vector<const rules::Rule*> declaredRules(int type);

// Every type name, by index.
std::vector<std::string> typeNames();

// A header line (the type, its instances, what the words below mean), a line for each sub-record
// that is a record of a type of its own, then a line per field, or run of elements, that a front
// end sets: its name ("name[0..N-1]"; a field alike in numbered sub-records as "bkgd[0..11].rate")
// and what the back end's checks take ("0..255", "text of up to 7 bytes", "status, set by
// ..."), instance by instance where they differ ("0..40000 on channel=0..1; 0..10000 on
// channel=2..3"), with the names of its values after it where the code has them. False with a
// message for a type whose record is not built.
bool fieldList(int type, std::string& out, std::string& error);

// The fields a front end sets, in wire order, as fieldList names them (the index byte left out):
// the name, the number of elements, for a text the characters it holds (0 for a number), the kind.
struct FieldInfo {
  std::string name;
  int count = 1;
  int textCapacity = 0;
  codec::Kind kind = codec::Kind::U8;
  codec::Role role = codec::Role::SETTING;  // as the field list tags it
};
bool settableFields(int type, std::vector<FieldInfo>& out);

// Where a command's answer carries its reply code (the field its field list tags as such; negative:
// refused): the byte offset in its body, or -1 when it has none.
int replyOffset(int type);

// Size of the record in memory, and whether it has an instance per ME or several channels.
struct RecordShape {
  size_t size = 0;
  bool perMe = false;
  int channels = 1;
};
bool recordShape(int type, RecordShape& shape);
// Where channel `channel` of a type's records lies in the bytes a category bound: a category that
// keeps more than its records (a data block) keeps them last.
int recordOffset(int bytes, const RecordShape& shape, int channel);

// Whether two records of the type in their memory form hold the same value in every field (presence
// words and the fields that name the instance, which the record's place names, do not count). The
// record must be built.
bool sameStoredValues(int type, const u8* a, const u8* b);

// One line for a record in its memory form (as the back end keeps it), with every field, in the
// form of describe, for ME me and channel channel. The record must be built.
std::string describeStored(int type, const u8* record, int me, int channel);

// What a request that a person gives may rely on, and what building it tells back.
struct RequestContext {
  // The record of an instance in its memory form as the back end holds it now; false with the
  // reason when that is not known. Empty: never known.
  std::function<bool(int me, int channel, Bytes& record, std::string& why)> current;
  // Whether a field that the back end sets itself every frame (a status field) is refused.
  bool refuseStatus = false;
  // Out: the elements that buildBody sent with their current values, because they share a presence
  // bit with one that was given ("matteColor[0]=365 matteColor[2]=0", "" when none).
  std::string filled;
};

// Builds the body of a record or command of the type from assignments: the Request that
// parseRequest makes of them, filled (Request::fill) from RequestContext::current. Each name is a
// field ("format"), an element ("multiviewSource[2]"), a sub-record field ("display.option") or a
// text (the text as it stands); setting one sets its presence bit. "me" and "channel" set the
// record's index byte when no field has that name. Fields and elements under the presence bit of one
// that is given go with it: the back end takes them all. Those not given are sent with their current
// values (RequestContext::current), or the request is refused. Returns false with a message for a
// type whose record is not built, an unknown name, a bad value, an element (or the instance) given
// by two words, or such a refusal.
bool buildBody(int type, const Assignments& fields, Bytes& body, std::string& error, RequestContext* context = nullptr);

// One line: the type name, "me=N" or "channel=N" for records with an index byte, then every field
// that is carried (whose presence bit is set, or that has none) as name=value, texts quoted.
// A type whose record is not built, or a body that does not hold the record, is shown in hex.
std::string describe(int type, const u8* body, size_t size);

// Values from lo to hi, both included.
struct Interval {
  double lo = 0;
  double hi = 0;
  bool operator==(const Interval&) const = default;
};

// The values that the back end's checks take for a field ("gain", "edges[2]", "trans.rate"; an
// array's element 0 when no element is named) of the record of ME or channel `index`, as intervals,
// as the record declares them (Lib/Include/limits.h): a range computed from other elements reads
// them as the record starts, and "channel" of `with` names the channel of a record per ME. False
// with a message when the type is not built, declares no limits, or has no such field.
bool acceptedValues(int type, const std::string& field, int index, const Assignments& with, std::vector<Interval>& out,
                    std::string& error);

// A field of a request that its answer does not carry as it was sent: its name ("entries[3]"), the
// value sent and the value answered in the text form ("" when the answer leaves the field out), and
// the number of each element sent and answered (empty for a text, and answered when left out).
struct Refusal {
  std::string field;
  std::string sent;
  std::string answered;
  std::vector<double> sentValues = {};
  std::vector<double> answeredValues = {};
};

// The number that element `element` of a field holds in a record in its memory form; false when
// the record is not built or has no such numeric field.
bool storedNumber(int type, const u8* record, const std::string& field, int element, double& out);

// What send says of the back end's answer to a record request: `refused`, each value the operator
// typed that the back end does not hold as typed; `notes`, what a rule of the back end did to a field
// the tool filled in (sent as last backed up), or to a value it takes in another form (0 standing
// for 10000); `notRun`, each typed value the record keeps but the hardware does not run. Each line
// names the field and the value sent, then what it holds and why, as the back end noted it when it
// took the request (`notes`): the rule that decided it and the values it read to decide ("decided by
// maskBox[0]=5000, sent with it", "decided by MxifXptAssign channel=0 source[7]=150, as the back end
// held it"); the range by which the field's own check refused the value, with the values that range
// depends on ("window[2]=-1: takes 0..10000; window kept its value", "patternNumber=17: takes 0..15
// with patternKind=2, sent with it"); or the element at fault that it went with under one presence
// bit. A back end of another build is judged by its answer alone. typed: the elements the operator
// gave ("format", "maskBox[0]"; empty: every element sent counts as typed). refused: the answer's
// refusals (Request::refusalsIn). heldAfter: the instance's record as the back end holds it after the
// request, for fields that the answer leaves out (empty: not known).
struct Verdict {
  std::vector<std::string> refused;
  // Refusals of a value the record starts with, where nothing shows what the instance holds: the
  // back end kept the value it held, which may be the one typed.
  std::vector<std::string> notKnown;
  std::vector<std::string> notes;
  std::vector<std::string> notRun;
  // Each rule that a line names, by its text, with the element it names it for ("maskBox[3]").
  std::vector<std::pair<std::string, std::string>> rules;
  // A typed value refused that the answer holds otherwise where the back end noted no rule for it:
  // no answer of the request's own shows that (a report of the instance from before it does).
  bool unexplained = false;
};

// A request of a record (or of a command whose record is built), parsed once from the words that give
// it: the record as it goes, with the presence bits of the fields given and of those that go with
// them, what the operator typed, and the instance it is for. send reads all it does with its request
// from here, never from the bytes again.
class Request {
 public:
  Request();
  ~Request();
  Request(Request&&) noexcept;
  Request& operator=(Request&&) noexcept;

  int type() const;
  // "MxifKey me=1 channel=2": the type name and the instance; that ME and channel (0 where none).
  const std::string& instance() const;
  int me() const;
  int channel() const;
  // The elements given ("format", "maskBox[0]", a text by its name).
  const std::set<std::string>& typed() const;
  // The index fields not given, which took 0 ("me=0 channel=0"; "" when none).
  const std::string& defaulted() const;
  // Whether elements that share one presence bit with given ones were not given: the back end takes
  // them too, so they go as the instance holds them (fill).
  bool needsFill() const;
  // Sets those elements from the instance's record as held (its memory form); what it set
  // ("matteColor[0]=365 matteColor[2]=0").
  std::string fill(const u8* held);
  // Why the request cannot go where the values to fill are not known (why: the reason).
  std::string fillProblem(const std::string& why) const;
  // The packet: header and body, as the fields stand.
  Bytes packet() const;
  // The fields it carries, each as a refusal with no answer.
  std::vector<Refusal> fields() const;
  // Whether a field is a layer's on-air request (codec::Role::ON_AIR_REQUEST).
  bool isOnAirRequest(const std::string& field) const;
  // Whether a report is of the request's record instance (same type, ME and channel); if so, the
  // fields of the request that it leaves out or holds otherwise, compared element by element.
  bool refusalsIn(const linkpeer::Packet& report, std::vector<Refusal>& out) const;
  // Whether a record in its memory form holds a field the request carries ("maskBox", "entries[3]")
  // with every element as sent.
  bool heldIn(const u8* record, const std::string& field) const;
  // The verdict on the answer's refusals (refusalsIn), as Verdict says.
  Verdict judge(const std::vector<Refusal>& refused, const linkpeer::RequestNotes& notes, const Bytes& heldAfter = {}) const;

  struct Parsed;  // the record as parsed (Tools/lib/records/view.h)

 private:
  friend bool parseRequest(int type, const Assignments& fields, Request& out, std::string& error, RequestContext* context);
  std::unique_ptr<Parsed> parsed_;
};

// Parses the assignments of a request of the type into out, as buildBody takes them, but fills
// nothing (Request::fill); false with a usage error (or notBuilt's for a type whose record is not
// built). context: as buildBody's, its current for the values a usage error names.
bool parseRequest(int type, const Assignments& fields, Request& out, std::string& error, RequestContext* context = nullptr);

// "0..4", "0..315, 400..615", "none"; whole numbers as integers.
std::string intervalsText(const std::vector<Interval>& intervals);

}  // namespace frontend

