#include "Application.h"
#include "Core/WinApi.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  velto::app::run();
}
