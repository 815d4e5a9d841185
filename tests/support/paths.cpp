#include "tests/support/paths.h"

std::string SourceDir() { return ZTEST_SOURCE_DIR; }
std::string AssetsDir() { return ZTEST_ASSETS_DIR; }
std::string ZephrantBin() { return ZTEST_ZEPHRANT_BIN; }
