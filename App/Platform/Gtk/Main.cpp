#include "Application.h"

int main() {
  velto::app::run();
}
