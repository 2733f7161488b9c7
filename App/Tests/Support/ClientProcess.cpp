#include "ClientProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace velto::testing {

void wait_for_client_window(const ChildProcess& client, unsigned long& window) {
  const auto found = find_window_of_pid(client.pid());
  ASSERT_TRUE(found) << "the client's window did not appear";
  window = *found;
}

void close_and_expect_exit_code_zero(ChildProcess& client, unsigned long window) {
  shell("wmctrl -ic " + std::to_string(window));
  const auto status = client.wait(15s);
  ASSERT_TRUE(status) << "the client did not end after its window was closed";
  EXPECT_EQ(*status, 0);
}

}  // namespace velto::testing
