#include "controller/uVarBinding.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace {

bool Binds(const TTarvoVar& V, const TTagVar& T, int32_t NAD) {
  return T.NAD() == NAD && V.Name() == T.Name() && V.ArrayCount() > T.ArrayIndex() &&
         V.Scope() == vsGlobal &&
         (V.ArrayIndex() == T.ArrayIndex() || (T.ArrayIndex() < 0 && V.ArrayIndex() == 0));
}

// The element a tag asks for: its index, or 0 when it names no element.
int32_t ElementOf(const TTagVar& T) {
  return T.ArrayIndex() < 0 ? 0 : T.ArrayIndex();
}

struct TNameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct TNameElement {
  std::string_view Name;
  int32_t Element;
  bool operator==(const TNameElement&) const = default;
};

struct TNameElementHash {
  size_t operator()(const TNameElement& k) const {
    return std::hash<std::string_view>{}(k.Name) ^
           (static_cast<size_t>(k.Element) * 0x9E3779B97F4A7C15u);
  }
};

}  // namespace

// The global variables of one variable list by name and element. A tag binds only to a
// global variable of its own name whose element is the tag's (0 for a tag without an
// index), so these are the only candidates a binding has to look at. Each distinct name
// and element is a key; the positions of its variables are kept in list order.
struct TVarBinding::TVarIndex {
  struct TElement {
    int32_t Element;
    int Key;
  };
  std::unordered_map<std::string, std::vector<TElement>, TNameHash, std::equal_to<>> ByName;
  std::vector<int> Start;      // per key, where its positions begin in Positions; one more
  std::vector<int> Positions;  // grouped by key, ascending within each key
  // What it was built from: the list, its variables and their elements. Binding a tag by
  // hand moves a variable to the tag's element, and the list can be changed through
  // TarvoVarList(); either way the index is built again before it is used.
  const TTarvoVarList* List = nullptr;
  std::vector<std::pair<const TTarvoVar*, int32_t>> Items;
  // Scratch of the copy-back plan: the first variable bound per key, valid where the
  // stamp is the current pass's.
  mutable std::vector<uint32_t> Stamp;
  mutable std::vector<TTarvoVar*> FirstBound;
  mutable uint32_t Pass = 0;
  // The key each tag of a tag list found at its last binding, by the tag's position. A
  // Read binds the same tags again and again, so a tag that is still the one at its
  // position, with the same name and element, takes its key from here instead of the
  // lookup. Emptied whenever the index is built.
  struct TTagKey {
    const TTagVar* Tag;
    std::string Name;
    int32_t Element;
    int Key;
  };
  struct TTagKeys {
    const TTagVars* Tags = nullptr;
    std::vector<TTagKey> Keys;
  };
  mutable TTagKeys TagKeys[2];
  mutable int NextTagKeys = 0;

  // The key of tag `t` of `tags`, remembered for the next binding of the same list.
  int KeyOfTag(const TTagVars& tags, int t, const TTagVar& T) const {
    TTagKeys* cache = nullptr;
    for (TTagKeys& c : TagKeys) {
      if (c.Tags == &tags) cache = &c;
    }
    if (cache == nullptr) {
      cache = &TagKeys[NextTagKeys];
      NextTagKeys = (NextTagKeys + 1) % 2;
      cache->Tags = &tags;
      cache->Keys.clear();
    }
    const int32_t element = ElementOf(T);
    const auto at = static_cast<size_t>(t);
    if (at < cache->Keys.size()) {
      const TTagKey& known = cache->Keys[at];
      if (known.Tag == &T && known.Element == element && known.Name == T.Name()) return known.Key;
    }
    const int key = Find(T.Name(), element);
    if (at >= cache->Keys.size()) cache->Keys.resize(at + 1, TTagKey{nullptr, {}, 0, -1});
    TTagKey& entry = cache->Keys[at];
    entry.Tag = &T;
    entry.Name = T.Name();
    entry.Element = element;
    entry.Key = key;
    return key;
  }

  bool Describes(const TTarvoVarList& list) const {
    if (List != &list || static_cast<size_t>(list.Count()) != Items.size()) return false;
    for (size_t v = 0; v < Items.size(); ++v) {
      const TTarvoVar* V = list.Items(static_cast<int>(v));
      if (V != Items[v].first || V->ArrayIndex() != Items[v].second) return false;
    }
    return true;
  }

  int Keys() const { return static_cast<int>(Start.size()) - 1; }

  // The key of a name and element, or -1.
  int Find(std::string_view name, int32_t element) const {
    const auto it = ByName.find(name);
    if (it == ByName.end()) return -1;
    const std::vector<TElement>& elements = it->second;
    const auto e =
        std::lower_bound(elements.begin(), elements.end(), element,
                         [](const TElement& a, int32_t value) { return a.Element < value; });
    return e != elements.end() && e->Element == element ? e->Key : -1;
  }

  void Build(const TTarvoVarList& list) {
    List = &list;
    const int count = list.Count();
    Items.clear();
    ByName.clear();
    std::vector<int> keyOf(static_cast<size_t>(count), -1);
    std::vector<int> sizes;
    for (int v = 0; v < count; ++v) {
      const TTarvoVar* V = list.Items(v);
      Items.emplace_back(V, V->ArrayIndex());
      if (V->Scope() != vsGlobal) continue;
      auto found = ByName.find(std::string_view(V->Name()));
      if (found == ByName.end()) found = ByName.emplace(V->Name(), std::vector<TElement>{}).first;
      std::vector<TElement>& elements = found->second;
      const int32_t element = V->ArrayIndex();
      // An array lists its elements in order, so the new element is nearly always last.
      auto at = elements.end();
      if (!elements.empty() && elements.back().Element >= element) {
        at = std::lower_bound(elements.begin(), elements.end(), element,
                              [](const TElement& a, int32_t value) { return a.Element < value; });
      }
      int key = 0;
      if (at != elements.end() && at->Element == element) {
        key = at->Key;
      } else {
        key = static_cast<int>(sizes.size());
        sizes.push_back(0);
        elements.insert(at, TElement{element, key});
      }
      keyOf[static_cast<size_t>(v)] = key;
      ++sizes[static_cast<size_t>(key)];
    }
    Start.assign(sizes.size() + 1, 0);
    for (size_t k = 0; k < sizes.size(); ++k) Start[k + 1] = Start[k] + sizes[k];
    Positions.assign(static_cast<size_t>(Start.back()), 0);
    std::vector<int> next(Start.begin(), Start.end() - 1);
    for (int v = 0; v < count; ++v) {
      const int key = keyOf[static_cast<size_t>(v)];
      if (key >= 0) Positions[static_cast<size_t>(next[static_cast<size_t>(key)]++)] = v;
    }
    Stamp.assign(sizes.size(), 0);
    FirstBound.assign(sizes.size(), nullptr);
    Pass = 0;
    for (TTagKeys& c : TagKeys) c = TTagKeys{};
  }
};

// What CopyBack does for the tags of the last binding: the variable each working
// copy's value goes to. It holds while the same tags are bound to the same variables.
struct TVarBinding::TCopyPlan {
  struct TBinding {
    const TTagVar* Tag;
    const TTarvoVar* Var;
    int32_t NAD;
    int32_t Element;  // of the variable
  };
  const TTagVars* Tags = nullptr;
  int32_t NAD = 0;
  std::vector<TBinding> Bindings;
  std::vector<TTarvoVar*> Targets;  // per working copy; nullptr: its value is dropped

  bool Holds(const TTagVars& tags, int32_t nad, int copies) const {
    if (Tags != &tags || NAD != nad || tags.Count() != static_cast<int>(Bindings.size()) ||
        copies != static_cast<int>(Targets.size())) {
      return false;
    }
    for (int t = 0; t < tags.Count(); ++t) {
      const TTagVar* T = tags.Items(t);
      const TBinding& b = Bindings[static_cast<size_t>(t)];
      if (T != b.Tag || T->TarvoVar() != b.Var || T->NAD() != b.NAD) return false;
      if (b.Var != nullptr && b.Var->ArrayIndex() != b.Element) return false;
    }
    return true;
  }
};

// ---- TVarBinding -----------------------------------------------------------------------

TVarBinding::TVarBinding()
    : fCopies(std::make_unique<TTarvoVarList>()),
      fSpareCopies(std::make_unique<TTarvoVarList>()),
      fIndex(std::make_unique<TVarIndex>()),
      fPlan(std::make_unique<TCopyPlan>()) {}

TVarBinding::~TVarBinding() = default;

const TVarBinding::TVarIndex& TVarBinding::IndexOf(const TTarvoVarList& vars) {
  if (!fIndex->Describes(vars)) fIndex->Build(vars);
  return *fIndex;
}

void TVarBinding::Forget() {
  fCopies->Clear();
  fSpareCopies->Clear();
  fCopyTags.clear();
  fPlan->Tags = nullptr;
  fIndex->List = nullptr;
}

void TVarBinding::ReleaseTags() {
  fCopyTags.clear();
  fPlan->Tags = nullptr;
}

void TVarBinding::DropCopies(const std::function<bool(const TTagVar&)>& drop) {
  if (std::none_of(fCopyTags.begin(), fCopyTags.end(),
                   [&](const TTagVar* T) { return drop(*T); })) {
    return;
  }
  auto kept = std::make_unique<TTarvoVarList>();
  std::vector<TTagVar*> keptTags;
  for (size_t i = 0; i < fCopyTags.size(); ++i) {
    if (drop(*fCopyTags[i])) continue;
    auto copy = std::make_unique<TTarvoVar>();
    copy->Assign(fCopies->Items(static_cast<int>(i)));
    kept->Add(std::move(copy));
    keptTags.push_back(fCopyTags[i]);
  }
  fCopies = std::move(kept);
  fCopyTags = std::move(keptTags);
  fPlan->Tags = nullptr;
}

void TVarBinding::Bind(const TTarvoVarList& vars, int32_t NAD, TTagVars& TagVarList) {
  fCopyTags.clear();
  TagVarList.ClearTarvoVarReferences();
  const TVarIndex& index = IndexOf(vars);

  // Every (variable, tag) pair that binds, found through the index and then taken in the
  // order of the variable list and, for one variable, of the tag list: the order in which
  // the bindings are made and the copies travel.
  struct TPair {
    int Var;
    int Tag;
    int Key;
    bool operator<(const TPair& o) const { return Var != o.Var ? Var < o.Var : Tag < o.Tag; }
  };
  std::vector<TPair> pairs;
  std::vector<int> tagKey(static_cast<size_t>(TagVarList.Count()), -1);
  for (int t = 0; t < TagVarList.Count(); ++t) {
    const TTagVar* T = TagVarList.Items(t);
    if (T->NAD() != NAD) continue;
    const int key = index.KeyOfTag(TagVarList, t, *T);
    if (key < 0) continue;
    tagKey[static_cast<size_t>(t)] = key;
    for (int i = index.Start[static_cast<size_t>(key)];
         i < index.Start[static_cast<size_t>(key) + 1]; ++i) {
      const int v = index.Positions[static_cast<size_t>(i)];
      if (Binds(*vars.Items(v), *T, NAD)) pairs.push_back({v, t, key});
    }
  }
  // Tags in the order of their variables, as a table column usually is, need no sorting.
  if (!std::is_sorted(pairs.begin(), pairs.end())) std::sort(pairs.begin(), pairs.end());

  // A Read binds its write tags and then its read tags, each time to as many copies as
  // the call before; the copies of the last two bindings are kept and assigned afresh
  // when the count is the same, instead of being freed and made again.
  const int copies = static_cast<int>(pairs.size());
  if (fCopies->Count() != copies) std::swap(fCopies, fSpareCopies);
  const bool reuse = fCopies->Count() == copies;
  if (!reuse) fCopies->Clear();
  std::vector<int> copyKey;
  copyKey.reserve(pairs.size());
  fCopyTags.reserve(pairs.size());
  for (int c = 0; c < copies; ++c) {
    const TPair& p = pairs[static_cast<size_t>(c)];
    TTarvoVar* V = vars.Items(p.Var);
    TTagVar* T = TagVarList.Items(p.Tag);
    T->SetTarvoVar(V);
    // After the setter, so the copy carries a value just applied.
    if (reuse) {
      fCopies->Items(c)->Assign(V);
    } else {
      auto copy = std::make_unique<TTarvoVar>();
      copy->Assign(V);
      fCopies->Add(std::move(copy));
    }
    fCopyTags.push_back(T);
    copyKey.push_back(p.Key);
  }

  // The copy-back goes to the variable of the first tag, in list order, bound to a
  // variable of the copy's name and element; a tag is bound only to variables of its own
  // key, so the first bound tag of each key decides.
  TCopyPlan& plan = *fPlan;
  plan.Tags = &TagVarList;
  plan.NAD = NAD;
  plan.Bindings.clear();
  plan.Targets.clear();
  if (++index.Pass == 0) {
    std::fill(index.Stamp.begin(), index.Stamp.end(), 0u);
    index.Pass = 1;
  }
  const uint32_t pass = index.Pass;
  for (int t = 0; t < TagVarList.Count(); ++t) {
    const TTagVar* T = TagVarList.Items(t);
    TTarvoVar* V = T->TarvoVar();
    plan.Bindings.push_back({T, V, T->NAD(), V != nullptr ? V->ArrayIndex() : 0});
    const int key = tagKey[static_cast<size_t>(t)];
    if (V == nullptr || key < 0 || index.Stamp[static_cast<size_t>(key)] == pass) continue;
    index.Stamp[static_cast<size_t>(key)] = pass;
    index.FirstBound[static_cast<size_t>(key)] = V;
  }
  for (int key : copyKey) plan.Targets.push_back(index.FirstBound[static_cast<size_t>(key)]);
}

void TVarBinding::CopyBack(TTagVars& TagVarList, int32_t NAD) {
  const int copies = fCopies->Count();
  // The raw value, so that a real holding no finite number cannot raise here.
  if (fPlan->Holds(TagVarList, NAD, copies)) {
    for (int c = 0; c < copies; ++c) {
      if (TTarvoVar* V = fPlan->Targets[static_cast<size_t>(c)]) {
        V->SetTarvoValue(fCopies->Items(c)->TarvoValue());
      }
    }
    return;
  }
  // Tags bound some other way: the first bound tag of this NAD per name and element of its
  // variable.
  std::unordered_map<TNameElement, TTarvoVar*, TNameElementHash> first;
  first.reserve(static_cast<size_t>(TagVarList.Count()));
  for (int t = 0; t < TagVarList.Count(); ++t) {
    const TTagVar* T = TagVarList.Items(t);
    TTarvoVar* V = T->TarvoVar();
    if (V == nullptr || T->NAD() != NAD) continue;
    first.try_emplace(TNameElement{V->Name(), V->ArrayIndex()}, V);
  }
  for (int c = 0; c < copies; ++c) {
    const TTarvoVar* C = fCopies->Items(c);
    const auto it = first.find(TNameElement{C->Name(), C->ArrayIndex()});
    if (it != first.end()) it->second->SetTarvoValue(C->TarvoValue());
  }
}
