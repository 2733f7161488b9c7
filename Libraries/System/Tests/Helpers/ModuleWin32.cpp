// Test helper: a library with one export and nothing else, which the tests
// load from paths of every length.

extern "C" __declspec(dllexport) int velto_test_module() {
  return 1;
}
