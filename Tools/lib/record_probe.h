#pragma once
// The probing of the back end's categories in this program that record_probe.cpp does, as the field
// list (record_fields.cpp) and a usage error's ranges use it, and the presence-bit partners of an
// element, which the verdicts on a request's answer (record_verdict.cpp) name too. Only the
// library's own sources include this.
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "Lib/Include/rules.h"
#include "Tools/lib/record_view.h"

namespace frontend::records {

// A value in the bits of an element of the kind.
u32 bitsOf(codec::Kind kind, double value);

// A record instance that values are offered to: the request's index (ME or channel), the fields of
// `with` ("channel" of a record per ME with channels, by whatever name the record gives it) and the
// instance's stored record.
class ProbeSite {
 public:
  explicit ProbeSite(const RecordType& type) : view(type), indexes(indexFields(view)) {}
  ProbeSite(const ProbeSite&) = delete;
  ProbeSite& operator=(const ProbeSite&) = delete;

  // False with a message when no category keeps the instance.
  bool open(int instance, const Assignments& fields, std::string& error);

  // A target's value in the stored record.
  double stored(const Target& t) const;
  // Its bits there.
  u32 storedBits(const Target& t) const;

  RecordView view;  // the request
  IndexFields indexes;
  const Field* index = nullptr;
  int indexValue = 0;
  Assignments with;
  u8* live = nullptr;  // the instance's stored record
  // Elements that every request holds at these values (the element another's values depend on).
  std::vector<std::pair<Target, double>> fixed;
};

// The fields under the presence bit of a field's element that the back end takes with it (fields
// that share the bit, the field itself when one bit covers all of its elements); none when the
// element has a bit of its own or none.
std::vector<const Field*> fieldsUnderBit(const RecordView& view, const Field& field, int element);

// The other elements under a target's presence bit, in wire order.
std::vector<Target> bitPartners(const RecordView& view, const Target& t);

// The records of a type as its categories keep them, put back when this ends.
class KeptRecords {
 public:
  explicit KeptRecords(int type);
  ~KeptRecords() { restore(); }
  KeptRecords(const KeptRecords&) = delete;
  KeptRecords& operator=(const KeptRecords&) = delete;
  void restore() {
    for (auto& [area, bytes] : saved_) std::memcpy(area, bytes.data(), bytes.size());
  }

 private:
  std::vector<std::pair<u8*, Bytes>> saved_;
};

// Writes a packet into the request ring and lets the categories read it; false when a check failed
// on it.
bool deliver(const Bytes& packet);

// What each target takes, as intervals (see probeTargets in record_probe.cpp).
std::vector<std::vector<Interval>> probeTargets(ProbeSite& site, const std::vector<Target>& targets, bool livePartners = true);

// What each element takes with the others as the record holds them.
struct PlainSets : std::map<std::pair<const Field*, int>, std::vector<Interval>> {
  std::function<const std::vector<Interval>*(const Target&)> lookup() const {
    return [this](const Target& t) {
      const auto at = find({t.field, t.element});
      return at != end() ? &at->second : nullptr;
    };
  }
};

// The element under the target's presence bit whose values change what the target takes (see
// record_probe.cpp). takesOf: what an element takes with the others as the record holds them (null:
// not known).
Dependence dependenceOf(ProbeSite& site, const Target& target, const std::vector<Interval>& takes,
                        const std::function<const std::vector<Interval>*(const Target&)>& takesOf);

// What the elements of an open instance take, as the field list shows them and a usage error names
// them: the numeric elements in as few groups as hold each once with no two under one presence bit,
// each group offered values together, in turn.
class InstanceSets {
 public:
  explicit InstanceSets(ProbeSite& site);
  const std::vector<std::vector<Target>>& groups() const { return groups_; }
  // What an element takes with the others as the instance holds them (none for one in no group).
  const std::vector<Interval>& plain(const Target& t) const;
  // The element under its presence bit whose values change what it takes, and the set for each.
  Dependence dependence(const Target& t) { return dependenceOf(site_, t, plain(t), plain_.lookup()); }

 private:
  ProbeSite& site_;
  std::vector<std::vector<Target>> groups_;
  PlainSets plain_;
};

// Whether an open instance takes a text (a text field, its count's Field) from a request: a short
// text is offered to it; the rules noted on the text when it is not go with the field's probed rules.
bool takesText(ProbeSite& site, const Field& text);

// The texts of the rules that decided the values offered to a field's element while it was probed
// (since the probes of the program began), in the order first noted.
std::vector<std::string> probedRules(int type, const Field& field);

}  // namespace frontend::records
