// The options in the registry, the attach routine and the dialog's rules,
// over the in-memory registry of the stand-in.
#include "standin/standin.h"
#include "settings/settings.h"
#include "unit/helpers.h"

namespace {

class Settings : public PluginTest {
 protected:
  void SetUp() override {
    PluginTest::SetUp();
    standin::RegistryClear();
  }
  void TearDown() override {
    EXPECT_EQ(standin::OpenKeys(), 0) << "a registry key was left open";
    PluginTest::TearDown();
  }
  void Store(const char* name, DWORD value, DWORD type = REG_DWORD) {
    standin::RegistrySetValue(kSettingsKey, name, type, value);
  }
  bool Stored(const char* name, DWORD* value) {
    DWORD type = 0;
    bool found = standin::RegistryValue(kSettingsKey, name, &type, value);
    EXPECT_TRUE(!found || type == REG_DWORD);
    return found;
  }
};

TEST_F(Settings, FirstLoadCreatesAnEmptyKeyAndKeepsDefaults) {
  PluginSettings.keep16 = 1;  // not from the registry: a new key reads nothing
  OutputDepthTable[32] = 99;
  LoadSettings();
  EXPECT_TRUE(standin::RegistryKeyExists(kSettingsKey));
  DWORD value;
  EXPECT_FALSE(Stored("16", &value));
  EXPECT_EQ(PluginSettings.keep16, 1);
  EXPECT_EQ(OutputDepthTable[16], 16);
  EXPECT_EQ(OutputDepthTable[32], 24) << "depths brought into step on every path";
}

TEST_F(Settings, StoredValuesAreRead) {
  struct Case {
    std::vector<std::pair<const char*, DWORD>> stored;
    int keep16, keep32, useMmx, at16, at32;
  } cases[] = {
      {{{"32", 1}}, 0, 1, 0, 24, 32},
      {{{"16", 5}}, 5, 0, 0, 16, 24},
      {{{"16", 1}, {"32", 0}, {"MMX", 1}}, 1, 0, 1, 16, 24},
      {{{"16", 0}, {"32", 7}, {"MMX", 0}}, 0, 7, 0, 24, 32},
  };
  for (const Case& c : cases) {
    standin::RegistryClear();
    SetOptions(0, 0, 0);
    for (auto& value : c.stored) Store(value.first, value.second);
    LoadSettings();
    EXPECT_EQ(PluginSettings.keep16, c.keep16);
    EXPECT_EQ(PluginSettings.keep32, c.keep32);
    EXPECT_EQ(PluginSettings.useMmx, c.useMmx);
    EXPECT_EQ(OutputDepthTable[16], c.at16);
    EXPECT_EQ(OutputDepthTable[32], c.at32);
  }
}

TEST_F(Settings, FailuresAreSilentAndLocal) {
  Store("16", 1);
  Store("32", 1);
  Store("MMX", 1);
  standin::FailNth(standin::kRegQueryValue, 2);  // "32" cannot be read
  LoadSettings();
  EXPECT_EQ(PluginSettings.keep16, 1);
  EXPECT_EQ(PluginSettings.keep32, 0);
  EXPECT_EQ(PluginSettings.useMmx, 1);

  SetOptions(0, 0, 0);
  standin::FailNth(standin::kRegCreateKey, 1);
  LoadSettings();
  EXPECT_EQ(PluginSettings.keep16, 0);
  EXPECT_EQ(OutputDepthTable[16], 24);
}

TEST_F(Settings, SaveWritesAllThreeEvenWhenOneFails) {
  SetOptions(1, 0, 1);
  standin::FailNth(standin::kRegSetValue, 1);
  SaveSettings();
  DWORD value = 99;
  EXPECT_FALSE(Stored("16", &value));
  ASSERT_TRUE(Stored("32", &value));
  EXPECT_EQ(value, 0u);
  ASSERT_TRUE(Stored("MMX", &value));
  EXPECT_EQ(value, 1u);

  PluginSettings.keep32 = 1;
  OutputDepthTable[32] = 0;
  standin::FailNth(standin::kRegCreateKey, 1);
  SaveSettings();
  EXPECT_EQ(OutputDepthTable[32], 32) << "depths updated even when the key cannot be opened";
}

TEST_F(Settings, AttachLoadsOptionsAndProbesTheProcessor) {
  Store("32", 1);
  PluginSettings.cpuHasMmx = 0;
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(0x400000);
  EXPECT_EQ(AttachModule(instance, 1), 1);
  EXPECT_EQ(ModuleInstance, instance);
  EXPECT_EQ(PluginSettings.keep32, 1);
  EXPECT_EQ(OutputDepthTable[32], 32);
  EXPECT_EQ(PluginSettings.cpuHasMmx, DetectMmx());
  for (DWORD reason : {0u, 2u, 3u}) {
    PluginSettings.keep32 = 0;
    HINSTANCE other = reinterpret_cast<HINSTANCE>(0x500000 + reason);
    EXPECT_EQ(AttachModule(other, reason), 1);
    EXPECT_EQ(ModuleInstance, other);
    EXPECT_EQ(PluginSettings.keep32, 0) << "only process attach reads the registry";
  }
}

TEST_F(Settings, DialogRules) {
  struct Case {
    PluginSettingsState before;
    int checked[3];
    int mmxEnabled;
    int states[3];
    PluginSettingsState after;
  } cases[] = {
      {{0, 0, 0, 1}, {0, 0, 0}, 1, {1, 0, 0}, {1, 0, 0, 1}},
      {{1, 1, 1, 1}, {1, 1, 1}, 1, {0, 1, 0}, {0, 1, 0, 1}},
      {{5, 0, 1, 0}, {0, 0, 1}, 0, {0, 0, 1}, {0, 0, 1, 0}},  // 5 shows unchecked, MMX box disabled
      {{1, 0, 1, 1}, {1, 0, 1}, 1, {2, 2, 2}, {1, 0, 1, 1}},  // indeterminate leaves flags
  };
  for (const Case& c : cases) {
    int checked[3], mmxEnabled = -1;
    InitialBoxStates(c.before, checked, &mmxEnabled);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(checked[i], c.checked[i]) << i;
    EXPECT_EQ(mmxEnabled, c.mmxEnabled);
    PluginSettingsState settings = c.before;
    ApplyBoxStates(c.states, &settings);
    EXPECT_EQ(settings.keep16, c.after.keep16);
    EXPECT_EQ(settings.keep32, c.after.keep32);
    EXPECT_EQ(settings.useMmx, c.after.useMmx);
    EXPECT_EQ(settings.cpuHasMmx, c.before.cpuHasMmx);
  }
}

}  // namespace
