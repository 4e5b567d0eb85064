// The main window on the in-memory desktop, for the window's tests.
#pragma once

#include <gtest/gtest.h>

#include <QLineEdit>
#include <memory>
#include <stdexcept>

#include "engine/BitmapData.h"
#include "engine/Types.h"
#include "platform/memory/MemoryDesktop.h"
#include "ui/uMain.h"

namespace ostrane::ui::testkit {

using platform::MemoryDesktop;

// Throws from the capture with this number (counting from 0); the others work.
class ThrowingDesktop : public MemoryDesktop {
 public:
  using MemoryDesktop::MemoryDesktop;
  int32_t ThrowOnCapture = -1;
  platform::CaptureResult Capture(int32_t x, int32_t y, int32_t w, int32_t h, uint8_t* bits,
                                  int32_t lineBytes) override {
    if (CaptureCount == ThrowOnCapture) {
      ++CaptureCount;
      throw std::runtime_error("capture broke");
    }
    return MemoryDesktop::Capture(x, y, w, h, bits, lineBytes);
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  MainWindowTest() : desktop_(400, 300, 0x203040), scope_(desktop_) {
    ProgramSettings() = RunSettings{};
    InitScreenMetrics();
    window_ = std::make_unique<TfmMian>();
  }
  ~MainWindowTest() override { window_.reset(); }

  void SetScopes(const char* find[4], const char* click[4]) {
    QLineEdit* f[] = {w().edLeft1, w().edTop1, w().edRight1, w().edBottom1};
    QLineEdit* c[] = {w().edLeft2, w().edTop2, w().edRight2, w().edBottom2};
    for (int i = 0; i < 4; ++i) {
      f[i]->setText(QString::fromLatin1(find[i]));
      c[i]->setText(QString::fromLatin1(click[i]));
    }
  }
  // A 6 x 4 mark at (50, 40) inside a click scope of (20, 20)-(120, 100); the find scope shows it.
  void ShowMarkAndScopes() {
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 6; ++x)
        desktop_.SetPixel(50 + x, 40 + y, 0x101010u * (x + 1) + y);
    const char* find[4] = {"50", "40", "56", "44"};
    const char* click[4] = {"20", "20", "120", "100"};
    SetScopes(find, click);
  }
  void SetInterval(const char* m, const char* s, const char* t) {
    w().edIntMinute->setText(QString::fromLatin1(m));
    w().edIntSecond->setText(QString::fromLatin1(s));
    w().edIntTen->setText(QString::fromLatin1(t));
  }

  TfmMian& w() { return *window_; }

  ThrowingDesktop desktop_;
  platform::ScopedActiveDesktop scope_;
  std::unique_ptr<TfmMian> window_;
};

}  // namespace ostrane::ui::testkit
