// Environment, program path and library state, the same on every platform.
#include <gtest/gtest.h>

#include <filesystem>

#include "Core/Strings.h"
#include "ProcessInternal.h"
#include "ProcessRun.h"
#include "SystemTestSupport.h"
#include "System/Process.h"

namespace velto {
namespace {

namespace fs = std::filesystem;
using testing::ScopedVariable;
using testing::text_of;
using testing::value_of;
using testing::variable_exists;

// The fixture of the platforms' process_run tests too.
using ProcessRun = testing::ProcessRunTest;

TEST(Environment, UnsetVariableReadsEmpty) {
  ASSERT_FALSE(variable_exists(u"VELTO_TEST_NEVER_SET"));
  EXPECT_EQ(env_get(u"VELTO_TEST_NEVER_SET"), u"");
}

TEST(Environment, ValuesRoundTrip) {
  const ScopedVariable scope(u"VELTO_TEST_ROUND_TRIP", u"");
  for (const char16_t* value : {u"plain", u"with blanks and = signs", u"Gr\u00fc\u00dfe \u2713 \U0001D11E",
                                u"C:\\Users\\A B\\AppData\\Roaming", u"--user-data-dir=\"x y\""}) {
    env_set(u"VELTO_TEST_ROUND_TRIP", value);
    EXPECT_EQ(env_get(u"VELTO_TEST_ROUND_TRIP"), Text(value));
  }
}

TEST(Environment, AbsentValueLeavesTheVariableSetToEmpty) {
  const ScopedVariable scope(u"VELTO_TEST_EMPTIED", u"something");
  env_set(u"VELTO_TEST_EMPTIED");
  EXPECT_TRUE(variable_exists(u"VELTO_TEST_EMPTIED"));
  EXPECT_EQ(env_get(u"VELTO_TEST_EMPTIED"), u"");

  env_set(u"VELTO_TEST_EMPTIED", u"");
  EXPECT_TRUE(variable_exists(u"VELTO_TEST_EMPTIED"));
}

TEST(Environment, AbsentNameDoesNothing) {
  env_set(u"", u"value");
  EXPECT_EQ(env_get(u""), u"");
}

TEST(ProgramPath, NamesThisRunningProgram) {
  const Text path = program_path();
  ASSERT_FALSE(path.empty());
  EXPECT_FALSE(path.starts_with(u"\\\\?\\")) << to_utf8(path);
  const fs::path file(path);
  EXPECT_TRUE(file.is_absolute()) << to_utf8(path);
  EXPECT_EQ(file.stem().string(), "system_process_tests");
  EXPECT_TRUE(fs::is_regular_file(file));
}

TEST(ProcessLibrary, SetsUpAnEmptyProgramRegistryOnce) {
  process_library_init();
  ProgramRegistry* programs = process_state().programs;
  ASSERT_NE(programs, nullptr);
  EXPECT_EQ(programs->slot_count(), 4U);
  EXPECT_NE(programs->release_routine(), nullptr);
  for (ObjectNumber number = 0; number < 4; ++number) {
    EXPECT_EQ(registry_get(*programs, number), nullptr);
  }

  process_library_init();
  EXPECT_EQ(process_state().programs, programs);
}

TEST_F(ProcessRun, ProgramInheritsVariablesSetBefore) {
  {
    const ScopedVariable value(u"VELTO_RECORD_VALUE", u"--user-data-dir=\"x y\" \u2713");
    const Outcome outcome = run(text_of(recorder_));
    ASSERT_TRUE(outcome.record);
    EXPECT_EQ(value_of(*outcome.record, "value"), "--user-data-dir=\"x y\" \xe2\x9c\x93");
  }
  {
    const ScopedVariable value(u"VELTO_RECORD_VALUE", u"dropped");
    env_set(u"VELTO_RECORD_VALUE");
    const Outcome outcome = run(text_of(recorder_));
    ASSERT_TRUE(outcome.record);
    EXPECT_EQ(value_of(*outcome.record, "value"), "");
  }
  const Outcome unset = run(text_of(recorder_));
  ASSERT_TRUE(unset.record);
  EXPECT_TRUE(value_of(*unset.record, "value-unset"));
}

}  // namespace
}  // namespace velto
