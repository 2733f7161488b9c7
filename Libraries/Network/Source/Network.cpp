#include "Network/Network.h"

#include "Core/Registry.h"
#include "NetworkInternal.h"

namespace velto {

namespace {
struct NetworkState {
  Registry<ConnectionRecord>* registry = nullptr;
  bool started = false;
};

NetworkState& network_state() noexcept {
  static NetworkState state;
  return state;
}
}  // namespace

void network_library_init() {
  NetworkState& state = network_state();
  if (!state.registry) {
    state.registry = registry_create<ConnectionRecord>(16, network_close);
  }
  state.started = platform::sockets_start();
}

void network_library_end() {
  NetworkState& state = network_state();
  if (state.registry) {
    network_close(ANY_NUMBER);
  }
  if (state.started) {
    platform::sockets_stop();
    state.started = false;
  }
}

void network_close(ObjectNumber number) {
  NetworkState& state = network_state();
  if (!state.registry) {
    return;
  }
  if (number == ANY_NUMBER) {
    registry_release_all(*state.registry);
    return;
  }
  if (ConnectionRecord* record = registry_get(*state.registry, number)) {
    platform::socket_close(record->handle);
    registry_free(*state.registry, number);
  }
}

bool network_available() {
  return network_state().started;
}

}  // namespace velto
