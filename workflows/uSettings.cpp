#include "workflows/uSettings.h"

namespace {

void ReadBool(const TSettingsStore& store, const char* name, bool& value) {
  int32_t stored = 0;
  if (store.ReadInteger(name, stored)) value = stored != 0;
}

void ReadInt(const TSettingsStore& store, const char* name, std::optional<int32_t>& value) {
  int32_t stored = 0;
  if (store.ReadInteger(name, stored)) value = stored;
}

}  // namespace

bool ReadSettings(const TSettingsStore& store, TSettings& settings, TWindowPlacement& placement) {
  if (!store.KeyExists()) return false;
  std::string text;
  if (store.ReadString("EthernetAdapterID", text)) settings.EthAdapterID = text;
  ReadBool(store, "DirectConnection", settings.DirectConnection);
  ReadBool(store, "ExtraRetries", settings.ExtraRetries);
  ReadBool(store, "ExtraTimeout", settings.ExtraTimeout);
  if (store.ReadString("Password", text)) settings.Password = text;
  ReadInt(store, "Top", placement.Top);
  ReadInt(store, "Left", placement.Left);
  ReadInt(store, "Width", placement.Width);
  ReadInt(store, "Height", placement.Height);
  int32_t maximized = 0;
  if (store.ReadInteger("Maximized", maximized)) placement.Maximized = maximized == 1;
  return true;
}

void WriteSettings(TSettingsStore& store, const TSettings& settings,
                   const TWindowPlacement& placement) {
  store.WriteString("EthernetAdapterID", settings.EthAdapterID);
  store.WriteString("Password", settings.Password);
  store.WriteInteger("DirectConnection", settings.DirectConnection ? 1 : 0);
  store.WriteInteger("ExtraRetries", settings.ExtraRetries ? 1 : 0);
  store.WriteInteger("ExtraTimeout", settings.ExtraTimeout ? 1 : 0);
  store.WriteInteger("Top", placement.Top.value_or(0));
  store.WriteInteger("Left", placement.Left.value_or(0));
  store.WriteInteger("Width", placement.Width.value_or(0));
  store.WriteInteger("Height", placement.Height.value_or(0));
  store.WriteInteger("Maximized", placement.Maximized ? 1 : 0);
}

bool TMemorySettingsStore::ReadString(const std::string& name, std::string& value) const {
  const auto it = Strings.find(name);
  if (it == Strings.end()) return false;
  value = it->second;
  return true;
}

bool TMemorySettingsStore::ReadInteger(const std::string& name, int32_t& value) const {
  const auto it = Integers.find(name);
  if (it == Integers.end()) return false;
  value = it->second;
  return true;
}

void TMemorySettingsStore::WriteString(const std::string& name, const std::string& value) {
  fExists = true;
  Strings[name] = value;
}

void TMemorySettingsStore::WriteInteger(const std::string& name, int32_t value) {
  fExists = true;
  Integers[name] = value;
}
