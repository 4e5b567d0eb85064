// The widget tests run on Qt's offscreen platform, with a scale factor of 2 asked for in the
// environment: the program's start-up must keep every coordinate a physical pixel regardless.
#include <gtest/gtest.h>

#include "ui/Application.h"

int main(int argc, char** argv) {
  // Wine hands no QT_ variable to a Windows program: OSTRANE_TEST_QPA names the platform there.
  const QByteArray platform = qgetenv("OSTRANE_TEST_QPA");
  if (!platform.isEmpty())
    qputenv("QT_QPA_PLATFORM", platform);
  else if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("QT_SCALE_FACTOR", "2");
  qputenv("QT_SCREEN_SCALE_FACTORS", "2");
  ostrane::ui::PreparePhysicalPixels();
  ostrane::ui::TApplication app(argc, argv);
  ostrane::ui::TApplication::setStyle(QStringLiteral("Fusion"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
