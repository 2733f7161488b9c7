// The message box on the test display (Xvfb with openbox), answered with
// xdotool as a user would, and the delay.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/Strings.h"
#include "Window/Events.h"
#include "Window/Window.h"
#include "WindowGui.h"

namespace velto {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::capture;
using testing::succeeds;

constexpr std::uint32_t kMainFlags = 0xCF0000;
constexpr std::uint32_t kYesNoInformation = 68;
constexpr int kYes = 6;
constexpr int kNo = 7;

// The box's X window, found by its title; empty when it did not appear.
std::string box_window(const std::string& title) {
  const std::string found = capture("xdotool search --sync --onlyvisible --name '^" + title + "$'");
  return found.substr(0, found.find('\n'));
}

struct ListFree {
  void operator()(GList* list) const noexcept { g_list_free(list); }
};

// The message box that is on the screen, if any.
GtkWidget* shown_box() {
  const std::unique_ptr<GList, ListFree> toplevels(gtk_window_list_toplevels());
  for (GList* item = toplevels.get(); item; item = item->next) {
    if (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_mapped(GTK_WIDGET(item->data))) {
      return GTK_WIDGET(item->data);
    }
  }
  return nullptr;
}

void collect_images(GtkWidget* widget, std::vector<std::string>& names) {
  if (GTK_IS_IMAGE(widget) && gtk_image_get_storage_type(GTK_IMAGE(widget)) == GTK_IMAGE_ICON_NAME) {
    const gchar* name = nullptr;
    gtk_image_get_icon_name(GTK_IMAGE(widget), &name, nullptr);
    if (name) {
      names.emplace_back(name);
    }
  }
  if (GTK_IS_CONTAINER(widget)) {
    const std::unique_ptr<GList, ListFree> children(gtk_container_get_children(GTK_CONTAINER(widget)));
    for (GList* item = children.get(); item; item = item->next) {
      collect_images(GTK_WIDGET(item->data), names);
    }
  }
}

std::string button_label(GtkWidget* box, int response) {
  GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), response);
  const gchar* label = GTK_IS_BUTTON(button) ? gtk_button_get_label(GTK_BUTTON(button)) : nullptr;
  return label ? label : "";
}

// What the test saw of the box and the program's windows while it was open;
// written on the GUI thread inside the box's own loop.
struct BoxView {
  std::atomic<bool> seen{false};
  std::atomic<int> no_x{0};
  std::atomic<int> no_y{0};
  std::string yes_label;
  std::string no_label;
  int buttons = 0;
  GtkMessageType type = GTK_MESSAGE_OTHER;
  std::vector<std::string> images;
  GtkWindow* transient_for = nullptr;
  std::vector<bool> sensitive;  // of the watched windows
  std::vector<GtkWidget*> watched;
};

gboolean look_at_box(gpointer data) {
  auto& view = *static_cast<BoxView*>(data);
  GtkWidget* box = shown_box();
  if (!box) {
    return G_SOURCE_CONTINUE;
  }
  view.yes_label = button_label(box, kYes);
  view.no_label = button_label(box, kNo);
  for (int response = 1; response <= 11; ++response) {
    view.buttons += gtk_dialog_get_widget_for_response(GTK_DIALOG(box), response) ? 1 : 0;
  }
  GtkMessageType type = GTK_MESSAGE_OTHER;
  g_object_get(box, "message-type", &type, nullptr);
  view.type = type;
  collect_images(box, view.images);
  view.transient_for = gtk_window_get_transient_for(GTK_WINDOW(box));
  for (GtkWidget* window : view.watched) {
    view.sensitive.push_back(gtk_widget_get_sensitive(window) != FALSE);
  }
  // Where a user would click No, from the box's top left corner (the window
  // manager may still move the box).
  GtkWidget* no = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), kNo);
  if (no) {
    int x = 0;
    int y = 0;
    GtkAllocation size{};
    gtk_widget_get_allocation(no, &size);
    gtk_widget_translate_coordinates(no, box, size.width / 2, size.height / 2, &x, &y);
    view.no_x = x;
    view.no_y = y;
  }
  view.seen = true;
  return G_SOURCE_REMOVE;
}

// Ends a box the test's own answer did not reach.
gboolean close_box(gpointer) {
  if (GtkWidget* box = shown_box()) {
    gtk_widget_destroy(box);
  }
  return G_SOURCE_CONTINUE;
}

enum class Answer { PressReturn, ClickNo };

// Shows the box and answers it from a helper thread through the X server.
int ask(const std::string& title, Answer answer, BoxView& view) {
  const guint looker = g_timeout_add(20, look_at_box, &view);
  // Only a box the answer never reached meets the watchdog: generous, so
  // that a slow, loaded machine still answers first.
  const guint watchdog = g_timeout_add(60000, close_box, nullptr);
  std::thread user([&] {
    const std::string window = box_window(title);
    if (window.empty()) {
      return;
    }
    const auto give_up = Clock::now() + 30s;
    while (!view.seen && Clock::now() < give_up) {
      std::this_thread::sleep_for(10ms);
    }
    if (answer == Answer::PressReturn) {
      succeeds("xdotool windowactivate --sync " + window + " key --clearmodifiers Return");
    } else {
      succeeds("xdotool windowactivate --sync " + window + " mousemove --window " + window + " " +
               std::to_string(view.no_x.load()) + " " + std::to_string(view.no_y.load()) + " click 1");
    }
  });
  const int result = message_box(from_utf8(title), u"Install the update now?", kYesNoInformation);
  user.join();
  if (!view.seen) {
    g_source_remove(looker);
  }
  g_source_remove(watchdog);
  return result;
}

class MessageBoxGui : public testing::WindowGuiTest {
 protected:
  // Lets the GUI run until window `n` holds the focus (or 5 s have passed).
  static bool focused(ObjectNumber n) {
    const auto give_up = Clock::now() + 5s;
    while (window_active() != n && Clock::now() < give_up) {
      if (!window_event()) {
        std::this_thread::sleep_for(5ms);
      }
    }
    return window_active() == n;
  }
};

TEST_F(MessageBoxGui, YesAndNoWithTheInformationIcon) {
  struct Case {
    const char* title;
    Answer answer;
    int expected;
  };
  for (const Case& c :
       {Case{"Velto Update Yes", Answer::PressReturn, kYes}, Case{"Velto Update No", Answer::ClickNo, kNo}}) {
    SCOPED_TRACE(c.title);
    BoxView view;
    EXPECT_EQ(ask(c.title, c.answer, view), c.expected);
    ASSERT_TRUE(view.seen);
    EXPECT_EQ(view.yes_label, "_Yes");
    EXPECT_EQ(view.no_label, "_No");
    EXPECT_EQ(view.buttons, 2);
    EXPECT_EQ(view.type, GTK_MESSAGE_INFO);
    EXPECT_NE(std::find(view.images.begin(), view.images.end(), "dialog-information"), view.images.end());
    EXPECT_EQ(shown_box(), nullptr);
  }
}

TEST_F(MessageBoxGui, OtherWindowsAreInsensitiveWhileItIsOpen) {
  ASSERT_NE(window_open(1, 50, 50, 200, 150, u"Second", kMainFlags), 0);
  ASSERT_NE(window_open(2, 300, 50, 200, 150, u"Already off", kMainFlags), 0);
  ASSERT_NE(window_open(0, 100, 250, 300, 200, u"Velto", kMainFlags), 0);
  GtkWidget* main_window = static_cast<GtkWidget*>(window_handle(0));
  GtkWidget* second = static_cast<GtkWidget*>(window_handle(1));
  GtkWidget* already_off = static_cast<GtkWidget*>(window_handle(2));
  gtk_widget_set_sensitive(already_off, FALSE);
  ASSERT_TRUE(focused(0));

  BoxView view;
  view.watched = {main_window, second, already_off};
  EXPECT_EQ(ask("Velto Guard", Answer::PressReturn, view), kYes);
  ASSERT_TRUE(view.seen);
  ASSERT_EQ(view.sensitive.size(), 3u);
  EXPECT_TRUE(view.sensitive[0]) << "the window in front owns the box";
  EXPECT_FALSE(view.sensitive[1]);
  EXPECT_FALSE(view.sensitive[2]);
  EXPECT_EQ(view.transient_for, GTK_WINDOW(main_window));

  EXPECT_TRUE(gtk_widget_get_sensitive(main_window));
  EXPECT_TRUE(gtk_widget_get_sensitive(second));
  EXPECT_FALSE(gtk_widget_get_sensitive(already_off));
}

TEST(MessageBoxNoDisplay, RefusedWithoutADisplay) {
  if (!std::getenv("VELTO_NO_DISPLAY_CHILD")) {
    GTEST_SKIP() << "runs in the child started by MessageBoxGui.WithoutADisplayTheAnswerIsZero";
  }
  event_queue_init();
  window_library_init();
  EXPECT_EQ(message_box(u"Velto", u"Install?", kYesNoInformation), 0);
  window_library_end();
}

TEST_F(MessageBoxGui, WithoutADisplayTheAnswerIsZero) {
  const std::string report =
      capture("env -u DISPLAY -u WAYLAND_DISPLAY VELTO_NO_DISPLAY_CHILD=1 '" + std::string(program_invocation_name) +
              "' --gtest_filter=MessageBoxNoDisplay.* --gtest_color=no");
  EXPECT_NE(report.find("[  PASSED  ] 1 test."), std::string::npos) << report;
}

}  // namespace
}  // namespace velto
