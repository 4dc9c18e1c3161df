// GoogleTest entry for the tests of the core folders: a QCoreApplication
// only, so nothing under test can reach a window, a screen or a font.
#include <gtest/gtest.h>
#include <QCoreApplication>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
