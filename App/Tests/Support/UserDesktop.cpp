#include "UserDesktop.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "LocalServer.h"

namespace velto::testing {

namespace {

namespace fs = std::filesystem;

// A program that notes its argument and ends, registered as the handler of
// `types` under `id`.
void add_stand_in(const std::string& data, const std::string& bin, const std::string& id, const std::string& log,
                  const std::string& types) {
  const std::string program = bin + "/" + id;
  std::ofstream(program) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << log << "'\n";
  fs::permissions(program, fs::perms::owner_all);
  std::ofstream(data + "/applications/" + id + ".desktop")
      << "[Desktop Entry]\nType=Application\nName=" << id << "\nExec=" << program << " %u\nMimeType=" << types
      << "\nNoDisplay=true\n";
}

std::vector<std::string> lines_of(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

}  // namespace

UserDesktop::UserDesktop() {
  const std::string data = root_.path() + "/data";
  const std::string bin = root_.path() + "/bin";
  for (const std::string& dir : {home(), config(), data + "/applications", bin, root_.path() + "/cache"}) {
    fs::create_directories(dir);
  }
  add_stand_in(data, bin, "velto-test-browser", root_.path() + "/browsed.txt",
               "x-scheme-handler/http;x-scheme-handler/https;x-scheme-handler/mailto;");
  add_stand_in(data, bin, "velto-test-files", root_.path() + "/folders.txt", "inode/directory;");
  // The user's choices, where GIO looks first.
  std::ofstream(config() + "/mimeapps.list") << "[Default Applications]\n"
                                                "x-scheme-handler/http=velto-test-browser.desktop\n"
                                                "x-scheme-handler/https=velto-test-browser.desktop\n"
                                                "x-scheme-handler/mailto=velto-test-browser.desktop\n"
                                                "inode/directory=velto-test-files.desktop\n";
}

std::vector<std::string> UserDesktop::environment() const {
  return {"HOME=" + home(), "XDG_CONFIG_HOME=" + config(), "XDG_DATA_HOME=" + root_.path() + "/data",
          "XDG_CACHE_HOME=" + root_.path() + "/cache"};
}

void UserDesktop::set_download_folder(const std::string& value) const {
  std::ofstream(config() + "/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"" << value << "\"\n";
}

std::vector<std::string> UserDesktop::browsed() const {
  return lines_of(root_.path() + "/browsed.txt");
}

std::vector<std::string> UserDesktop::folders_shown() const {
  return lines_of(root_.path() + "/folders.txt");
}

std::string url_encoded(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4U];
      out += kHex[byte & 15U];
    }
  }
  return out;
}

std::optional<Geometry> reported_position(const std::string& label) {
  const std::string beacons = server_fetch("/test/beacons");
  const std::string key = "\"event\": \"position\", \"id\": \"" + label + ":";
  const auto at = beacons.rfind(key);
  Geometry where;
  if (at == std::string::npos || std::sscanf(beacons.c_str() + at + key.size(), "%d,%d,%d,%d\"", &where.x, &where.y,
                                             &where.width, &where.height) != 4) {
    return std::nullopt;
  }
  return where;
}

std::size_t beacon_count(const std::string& event) {
  const std::string beacons = server_fetch("/test/beacons");
  const std::string key = "\"event\": \"" + event + "\"";
  std::size_t count = 0;
  for (auto at = beacons.find(key); at != std::string::npos; at = beacons.find(key, at + key.size())) {
    ++count;
  }
  return count;
}

bool beacon_containing(const std::string& event, const std::string& part) {
  const std::string beacons = server_fetch("/test/beacons");
  const std::string key = "\"event\": \"" + event + "\", \"id\": \"";
  for (auto at = beacons.find(key); at != std::string::npos; at = beacons.find(key, at + key.size())) {
    const auto start = at + key.size();
    if (beacons.substr(start, beacons.find("\", \"", start) - start).find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

ChatClient::ChatClient(const UserDesktop& desktop) {
  process_ = std::make_unique<ChildProcess>(std::vector<std::string>{VELTO_CLIENT_PATH}, desktop.environment());
  const auto window = find_window_of_pid(process_->pid());
  if (!window) {
    failure_ = "the client's window did not appear";
    return;
  }
  window_ = *window;
  if (!eventually([] { return beacon_count("load") > 0; }, 30s)) {
    failure_ = "the chat page did not load";
  }
}

bool ChatClient::click(const std::string& label, int button) {
  std::optional<Geometry> element;
  if (!eventually([&] { return (element = reported_position(label)).has_value(); }, 15s, 100ms)) {
    return false;
  }
  const auto client = client_geometry(window_);
  if (!client) {
    return false;
  }
  const int x = client->x + element->x + element->width / 2;
  const int y = client->y + element->y + element->height / 2;
  shell("xdotool windowactivate --sync " + std::to_string(window_) + " mousemove --sync " + std::to_string(x) + " " +
        std::to_string(y) + " click " + std::to_string(button));
  return true;
}

bool ChatClient::choose_from_menu(const std::string& label, int item) {
  if (!click(label, 3)) {
    return false;
  }
  const std::string pid = std::to_string(process_->pid());
  const bool shown = eventually(
      [&] {
        std::istringstream windows(shell("xdotool search --onlyvisible --pid " + pid + " 2>/dev/null"));
        for (unsigned long id = 0; windows >> id;) {
          const std::string type = shell("xprop -id " + std::to_string(id) + " _NET_WM_WINDOW_TYPE 2>/dev/null");
          if (type.find("_NET_WM_WINDOW_TYPE_POPUP_MENU") != std::string::npos) {
            return true;
          }
        }
        return false;
      },
      10s, 100ms);
  if (!shown) {
    return false;
  }
  std::string keys;
  for (int i = 0; i < item; ++i) {
    keys += " Down";
  }
  shell("xdotool key" + keys + " Return");
  return true;
}

bool ChatClient::chat_answers() {
  const std::size_t before = beacon_count("notify-resolved");
  server_fetch("/test/message?author=Anna&text=still%20there%3F");
  return eventually([&] { return beacon_count("notify-resolved") > before; }, 15s, 100ms);
}

std::optional<int> ChatClient::close() {
  shell("wmctrl -ic " + std::to_string(window_));
  return process_->wait(15s);
}

}  // namespace velto::testing
