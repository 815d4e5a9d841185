// Where the tests find the checkout and the game: fixed when the tests are
// built, in one file of their own, so that the other test files do not
// depend on where the checkout lies.
#pragma once
#include <string>

std::string SourceDir();    // the checkout
std::string AssetsDir();    // the media files the game embeds
std::string ZephrantBin();  // the game built beside the tests
