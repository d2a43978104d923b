#include "driver/driver.h"

int main(int argc, char** argv) {
  return kelp::run_kelp(argc, argv);
}
