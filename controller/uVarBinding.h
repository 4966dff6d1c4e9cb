// The binding of tags to one controller's variables: which variable of the controller's
// list each tag names, the working copies whose values travel in one exchange, and the
// variable each copy's value goes back to. The controller object owns one and drives it
// from its exchange; a Read binds the same tags again and again, so what the binding works
// out is kept while the variable list and the tags stay the same.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "data/uTagVars.h"
#include "data/uTarvoVars.h"

class TVarBinding {
 public:
  TVarBinding();
  ~TVarBinding();
  TVarBinding(const TVarBinding&) = delete;
  TVarBinding& operator=(const TVarBinding&) = delete;

  // Binds every tag of `tags` with this NAD to the global variable of `vars` of its name
  // and element (element 0 for a tag without an index), applying each tag's write value,
  // and makes one working copy per bound pair: in the order of the variable list and, for
  // one variable, of the tag list, which is the order in which the values travel. A tag
  // that binds nothing stays unbound.
  void Bind(const TTarvoVarList& vars, int32_t NAD, TTagVars& tags);
  // The working copies of the last Bind, and the tag each was made for.
  TTarvoVarList& Copies() { return *fCopies; }
  const TTarvoVarList& Copies() const { return *fCopies; }
  const std::vector<TTagVar*>& CopyTags() const { return fCopyTags; }
  // Leaves out the copies whose tag `drop` names.
  void DropCopies(const std::function<bool(const TTagVar&)>& drop);
  // Puts each copy's value into the variable of the first tag of `tags` (of this NAD, in
  // list order) that is bound to a variable of the copy's name and element.
  void CopyBack(TTagVars& tags, int32_t NAD);
  // The tags of the last Bind may be freed from now on: nothing here points at them.
  void ReleaseTags();
  // The variable list is about to change: forgets the copies and everything worked out
  // from the list.
  void Forget();

 private:
  struct TVarIndex;
  struct TCopyPlan;

  // The lookup of `vars`, built again when the list or its elements changed.
  const TVarIndex& IndexOf(const TTarvoVarList& vars);

  std::unique_ptr<TTarvoVarList> fCopies;
  // The copies of the binding before the last, kept to be assigned again.
  std::unique_ptr<TTarvoVarList> fSpareCopies;
  std::vector<TTagVar*> fCopyTags;
  std::unique_ptr<TVarIndex> fIndex;
  std::unique_ptr<TCopyPlan> fPlan;
};
