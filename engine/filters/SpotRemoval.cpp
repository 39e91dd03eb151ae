#include "engine/filters/SpotRemoval.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <vector>

#include "engine/filters/FilterCommon.h"

namespace orb {

namespace {

struct Run {
  int32_t start;
  int32_t end;  // one past the last black pixel
};

struct LineRecord {
  int64_t line = 0;
  std::vector<Run> runs;
  std::vector<uint8_t> erased;
};

struct Component {
  int32_t parent = 0;
  int32_t minStart = 0;
  int32_t maxEnd = 0;
  int64_t firstLine = 0;
  int64_t lastLine = 0;
  int64_t touched = -1;  // last line with a run of this component
  bool dead = false;     // already beyond the limits: can never be a speck
  // The runs of a component that may still be a speck, as (line, index in its record).
  std::vector<std::pair<int64_t, int32_t>> members;
};

}  // namespace

// Follows the components line by line. A component that grows beyond the limits is marked
// dead at once and gives up its run list, so large shapes cost nothing more than their
// runs; whether a component is whitened depends only on its final box, which is the same
// whichever order runs and segments are joined in.
class DespeckleEngine {
 public:
  DespeckleEngine(size_t width, int32_t limit) : width_(width), limit_(limit) {}

  // Processes one line in place (the line's bytes are rewritten when `write`).
  void Line(uint8_t* line, int64_t i, bool write);

 private:
  void FindRuns(const uint8_t* line, std::vector<Run>& runs) const;
  int32_t NewComponent(const Run& r, int64_t i);
  int32_t Find(int32_t c);
  int32_t Unite(int32_t a, int32_t b);
  void Grow(int32_t c, const Run& r, int64_t i, int32_t index);
  void CheckLimits(Component& c);
  void Complete(int32_t c);
  void Release(int32_t c);
  LineRecord TakeRecord();

  size_t width_;
  int32_t limit_;
  std::deque<LineRecord> queue_;
  std::vector<LineRecord> spare_;
  std::vector<Component> comps_;
  std::vector<int32_t> freeComps_;
  std::vector<int32_t> absorbed_;
  std::vector<Run> prevRuns_;
  std::vector<int32_t> prevComp_;
  std::vector<int32_t> curComp_;
  std::vector<Run> outRuns_;
};

void DespeckleEngine::FindRuns(const uint8_t* line, std::vector<Run>& runs) const {
  runs.clear();
  const uint8_t* p = line;
  const uint8_t* end = line + width_;
  while (p < end) {
    const void* z = std::memchr(p, 0, static_cast<size_t>(end - p));
    if (z == nullptr) break;
    const uint8_t* s = static_cast<const uint8_t*>(z);
    const uint8_t* e = s + 1;
    while (e < end && *e == 0) ++e;
    runs.push_back(Run{static_cast<int32_t>(s - line), static_cast<int32_t>(e - line)});
    p = e;
  }
}

LineRecord DespeckleEngine::TakeRecord() {
  if (spare_.empty()) return LineRecord{};
  LineRecord r = std::move(spare_.back());
  spare_.pop_back();
  return r;
}

int32_t DespeckleEngine::NewComponent(const Run& r, int64_t i) {
  int32_t id;
  if (!freeComps_.empty()) {
    id = freeComps_.back();
    freeComps_.pop_back();
  } else {
    id = static_cast<int32_t>(comps_.size());
    comps_.emplace_back();
  }
  Component& c = comps_[static_cast<size_t>(id)];
  c.parent = id;
  c.minStart = r.start;
  c.maxEnd = r.end;
  c.firstLine = c.lastLine = i;
  c.touched = i;
  c.dead = false;
  c.members.clear();
  return id;
}

int32_t DespeckleEngine::Find(int32_t c) {
  int32_t root = c;
  while (comps_[static_cast<size_t>(root)].parent != root) root = comps_[static_cast<size_t>(root)].parent;
  while (comps_[static_cast<size_t>(c)].parent != root) {
    int32_t next = comps_[static_cast<size_t>(c)].parent;
    comps_[static_cast<size_t>(c)].parent = root;
    c = next;
  }
  return root;
}

void DespeckleEngine::CheckLimits(Component& c) {
  if (c.dead) return;
  if (c.lastLine - c.firstLine > limit_ || c.maxEnd - c.minStart > limit_) {
    c.dead = true;
    std::vector<std::pair<int64_t, int32_t>>().swap(c.members);
  }
}

int32_t DespeckleEngine::Unite(int32_t a, int32_t b) {
  Component* ca = &comps_[static_cast<size_t>(a)];
  Component* cb = &comps_[static_cast<size_t>(b)];
  if (ca->members.size() < cb->members.size()) {
    std::swap(a, b);
    std::swap(ca, cb);
  }
  cb->parent = a;
  ca->minStart = std::min(ca->minStart, cb->minStart);
  ca->maxEnd = std::max(ca->maxEnd, cb->maxEnd);
  ca->firstLine = std::min(ca->firstLine, cb->firstLine);
  ca->lastLine = std::max(ca->lastLine, cb->lastLine);
  ca->touched = std::max(ca->touched, cb->touched);
  ca->dead = ca->dead || cb->dead;
  if (!ca->dead) ca->members.insert(ca->members.end(), cb->members.begin(), cb->members.end());
  std::vector<std::pair<int64_t, int32_t>>().swap(cb->members);
  CheckLimits(*ca);
  absorbed_.push_back(b);
  return a;
}

void DespeckleEngine::Grow(int32_t id, const Run& r, int64_t i, int32_t index) {
  Component& c = comps_[static_cast<size_t>(id)];
  c.minStart = std::min(c.minStart, r.start);
  c.maxEnd = std::max(c.maxEnd, r.end);
  c.lastLine = std::max(c.lastLine, i);
  c.touched = i;
  CheckLimits(c);
  if (!c.dead) c.members.emplace_back(i, index);
}

void DespeckleEngine::Complete(int32_t id) {
  Component& c = comps_[static_cast<size_t>(id)];
  if (!c.dead && c.lastLine - c.firstLine <= limit_ && c.maxEnd - c.minStart <= limit_) {
    int64_t front = queue_.empty() ? 0 : queue_.front().line;
    for (const auto& [line, index] : c.members) {
      int64_t q = line - front;
      if (q < 0 || q >= static_cast<int64_t>(queue_.size())) continue;
      LineRecord& rec = queue_[static_cast<size_t>(q)];
      if (index >= 0 && static_cast<size_t>(index) < rec.erased.size()) rec.erased[static_cast<size_t>(index)] = 1;
    }
  }
  Release(id);
}

void DespeckleEngine::Release(int32_t id) {
  Component& c = comps_[static_cast<size_t>(id)];
  c.members.clear();
  c.touched = -2;  // marks the slot free until it is reused
  freeComps_.push_back(id);
}

void DespeckleEngine::Line(uint8_t* line, int64_t i, bool write) {
  LineRecord rec = TakeRecord();
  rec.line = i;
  FindRuns(line, rec.runs);
  rec.erased.assign(rec.runs.size(), 0);
  const std::vector<Run>& runs = rec.runs;

  // Join the line's runs to the components of the previous line's runs. Two runs touch
  // when they overlap or meet at a corner (8-connectivity with exclusive ends).
  curComp_.assign(runs.size(), -1);
  size_t j = 0;
  for (size_t r = 0; r < runs.size(); ++r) {
    const Run& run = runs[r];
    while (j < prevRuns_.size() && prevRuns_[j].end < run.start) ++j;
    int32_t comp = -1;
    for (size_t p = j; p < prevRuns_.size() && prevRuns_[p].start <= run.end; ++p) {
      int32_t c = Find(prevComp_[p]);
      if (comp < 0) {
        comp = c;
      } else if (c != comp) {
        comp = Unite(comp, c);
      }
    }
    if (comp < 0) {
      comp = NewComponent(run, i);
      if (!comps_[static_cast<size_t>(comp)].dead) {
        CheckLimits(comps_[static_cast<size_t>(comp)]);
        if (!comps_[static_cast<size_t>(comp)].dead)
          comps_[static_cast<size_t>(comp)].members.emplace_back(i, static_cast<int32_t>(r));
      }
    } else {
      Grow(comp, run, i, static_cast<int32_t>(r));
    }
    curComp_[r] = comp;
  }

  queue_.push_back(std::move(rec));

  // Components of the previous line that reached no run of this line are complete.
  for (size_t p = 0; p < prevRuns_.size(); ++p) {
    int32_t c = Find(prevComp_[p]);
    Component& comp = comps_[static_cast<size_t>(c)];
    if (comp.touched == i || comp.touched == -2) continue;
    Complete(c);
  }
  for (size_t r = 0; r < curComp_.size(); ++r) curComp_[r] = Find(curComp_[r]);
  // Merged-away records are referenced by nothing once the runs point at their roots.
  for (int32_t a : absorbed_) Release(a);
  absorbed_.clear();
  prevRuns_ = queue_.back().runs;
  std::swap(prevComp_, curComp_);

  // The oldest waiting line leaves the queue once S + 1 lines are behind it.
  const std::vector<Run>* out = &queue_.back().runs;
  const std::vector<uint8_t>* erased = nullptr;
  LineRecord oldest;
  bool popped = false;
  if (i > limit_) {
    oldest = std::move(queue_.front());
    queue_.pop_front();
    out = &oldest.runs;
    erased = &oldest.erased;
    popped = true;
  }
  if (write) {
    std::memset(line, 255, width_);
    for (size_t r = 0; r < out->size(); ++r) {
      if (erased && (*erased)[r]) continue;
      const Run& run = (*out)[r];
      std::memset(line + run.start, 0, static_cast<size_t>(run.end - run.start));
    }
  }
  if (popped && spare_.size() < 8) spare_.push_back(std::move(oldest));
}

}  // namespace orb

DespeckleState::DespeckleState() = default;
DespeckleState::~DespeckleState() = default;

DespeckleState* DespeckleInit(DespeckleState* state, const orb::DespeckleRecord* settings,
                              size_t width) {
  if (state == nullptr || settings == nullptr) return nullptr;
  state->engine.reset();
  state->settings = settings;
  state->width = width;
  // A negative or absurd size from a damaged file would make the delay meaningless.
  state->limit = std::clamp(settings->SpeckWidth, 0, 65535);
  state->counter = -state->limit;
  state->lineIndex = -1;
  state->fed = 0;
  try {
    state->engine = std::make_unique<orb::DespeckleEngine>(width, state->limit);
  } catch (const std::exception&) {
    return nullptr;
  }
  return state;
}

int32_t DespeckleRows(DespeckleState* state, uint8_t* band, size_t length) {
  if (state == nullptr) return 0;
  if (!state->engine || band == nullptr || state->width == 0) return state->counter;
  size_t lines = length / state->width;
  try {
    for (size_t l = 0; l < lines; ++l) {
      state->engine->Line(band + l * state->width, state->lineIndex + 1, state->counter >= 0);
      ++state->lineIndex;
      ++state->counter;
      ++state->fed;
    }
  } catch (const std::exception&) {
    // Out of memory for the run or component tables: the pass cannot go on. The engine is
    // dropped, the rest of the band and later bands pass unchanged, and the failure stays
    // visible to the caller.
    state->engine.reset();
    state->failed = true;
  }
  return state->counter;
}

int DespeckleDelay(const DespeckleState* state) {
  if (state == nullptr || !state->engine) return 0;
  return state->limit + 1;
}

int64_t DespeckleFlush(DespeckleState* state, uint8_t* out, size_t outLength) {
  int delay = DespeckleDelay(state);
  if (delay == 0) return 0;
  return orb::FlushDelayedLines(
      [state](uint8_t* line, size_t n) { DespeckleRows(state, line, n); },
      [state](uint8_t* line) { std::memset(line, 255, state->width); }, state->fed, delay,
      state->width, out, outLength);
}

void DespeckleFree(DespeckleState* state) {
  if (state == nullptr) return;
  state->engine.reset();
}
