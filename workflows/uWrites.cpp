#include "workflows/uWrites.h"

#include "data/uNumText.h"
#include "workflows/uSteps.h"

namespace {

TWriteOutcome OutcomeOf(const TTarvo& T, const TTagVar& tag, const std::string& name,
                        const std::string& text) {
  const TExchangeReport& exchange = T.LastExchange();
  TWriteOutcome o;
  o.NAD = T.NAD();
  o.Name = name;
  o.Text = text;
  if (!exchange.Reached) {
    o.Kind = TWriteKind::wkNotReached;
    o.Reason = T.ErrorS;
    o.ResponseCode = T.RefusalCode();
    return o;
  }
  const TTarvoVar* V = tag.TarvoVar();
  if (V == nullptr) {
    o.Kind = TWriteKind::wkNoVariable;
    return o;
  }
  o.Description = V->Description();
  // Without the read-back the variable holds what was sent, not what the controller has.
  if (exchange.ReadBack) o.Held = ValueText(*V);
  // The binding judged the text with this same check (the tag's write rule).
  o.Check = CheckValue(*V, text);
  if (!o.Check.Accepted()) {
    o.Kind = TWriteKind::wkRefused;
    return o;
  }
  o.Sent = FormatValueText(o.Check.Value.ToDouble());
  if (exchange.ReadBack) {
    // What the controller holds decides, whatever became of the write's answer.
    o.Kind = HoldsWritten(*V, o.Check) ? TWriteKind::wkVerified : TWriteKind::wkNotHeld;
    return o;
  }
  o.Reason = T.ErrorS;
  o.ResponseCode = T.RefusalCode();
  switch (exchange.Write) {
    case TWriteAnswer::waAcknowledged:
      o.Kind = TWriteKind::wkUnverified;
      break;
    case TWriteAnswer::waRefused:
      o.Kind = TWriteKind::wkRejected;
      break;
    default:
      o.Kind = TWriteKind::wkUnanswered;
      break;
  }
  return o;
}

}  // namespace

std::vector<TWriteOutcome> WriteValues(
    TTarvo& T, const std::vector<std::pair<std::string, std::string>>& values) {
  TTagVarList tags;
  for (const auto& [name, text] : values) tags.Add(MakeTag(T, name, text));
  if (tags.Count() > 0) T.Read(tags);
  std::vector<TWriteOutcome> outcomes;
  outcomes.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    outcomes.push_back(
        OutcomeOf(T, *tags.Items(static_cast<int>(i)), values[i].first, values[i].second));
  }
  return outcomes;
}

TEepromStoreOutcome EepromStore(TTarvo& T) {
  const std::vector<TWriteOutcome> writes =
      WriteValues(T, {{"ee_write_magic", kEepromWriteMagic}, {"ee_write_req", "1"}});
  TEepromStoreOutcome store;
  store.NAD = T.NAD();
  for (const TWriteOutcome& w : writes) {
    if (w.Kind == TWriteKind::wkNoVariable || w.Kind == TWriteKind::wkRefused) {
      store.Faults.push_back(w);
    }
  }
  // Both travel in one request and are read back in the same exchange: when both were
  // written, either one tells what became of the request.
  const TWriteOutcome& written = writes.front();
  store.ResponseCode = written.ResponseCode;
  store.Reason = written.Reason;
  if (written.Kind == TWriteKind::wkNotReached) {
    store.Kind = TEepromStoreKind::esNotReached;
  } else if (!store.Faults.empty()) {
    store.Kind = TEepromStoreKind::esNotRequested;
  } else {
    switch (written.Kind) {
      case TWriteKind::wkUnverified:
        store.Kind = TEepromStoreKind::esUnconfirmed;
        break;
      case TWriteKind::wkRejected:
        store.Kind = TEepromStoreKind::esRejected;
        break;
      case TWriteKind::wkUnanswered:
        store.Kind = TEepromStoreKind::esUnanswered;
        break;
      default:
        // The controller clears both once it has stored: a read-back need not hold them.
        store.Kind = TEepromStoreKind::esStored;
        break;
    }
  }
  return store;
}
