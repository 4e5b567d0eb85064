// What every desktop backend must do alike, as one typed test suite over a harness per backend.
// A test program includes this header once, defines its harness and instantiates the suite:
//   INSTANTIATE_TYPED_TEST_SUITE_P(X11, DesktopConformance, X11Harness);
//
// A harness opens its backend, shows pictures on it and tells where the pointer's events went:
// - std::string Open(): "" when the desktop is ready, else why it is not.
// - platform::Desktop& Desktop().
// - std::optional<platform::ScreenSize> SessionScreen(): the size the session was set up with,
//   when known.
// - std::vector<std::string> CaptureModes(), void UseCaptureMode(size_t): the backend's ways of
//   reading the screen (one at least); every capture check runs in each.
// - std::unique_ptr<Picture> Show(x, y, w, h, pixels): the pixels on top of everything at
//   (x, y); Picture::Ok(), and Picture::Arrivals(): every pointer event that reached it so far.
// - bool PumpUntil(std::function<bool()> done, int timeoutMs): lets the session's events flow
//   until `done` holds (never, when empty) or the time is up; whether it held.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "concurrency/WorkShare.h"
#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "platform/Desktop.h"
#include "platform/PixelRows.h"
#include "tests/support/Pattern.h"

namespace ostrane::testkit {

// A pointer event as it reached a picture.
struct Arrival {
  enum Kind { Move, Press, Release };
  Kind kind;
  int button;            // 1 for the left button; 0 for a move
  int screenX, screenY;  // on the screen
  int x, y;              // in the picture
};

// "WIDTHxHEIGHT" as a size; nothing for any other text.
inline std::optional<platform::ScreenSize> ParseScreenSize(const std::string& text) {
  int w = 0, h = 0;
  char x = 0, rest = 0;
  if (std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) != 3 || x != 'x' || w <= 0 || h <= 0)
    return std::nullopt;
  return platform::ScreenSize{w, h};
}

// The colour of the pixel at column x, row y from the top, of rows stored bottom row first.
inline uint32_t RgbAt(const uint8_t* bits, int32_t lineBytes, int32_t height, int x, int y) {
  const uint8_t* p = platform::PixelFromTop(bits, height, lineBytes, x, y);
  return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

inline std::vector<Arrival> OfKind(const std::vector<Arrival>& arrivals, Arrival::Kind kind) {
  std::vector<Arrival> out;
  std::copy_if(arrivals.begin(), arrivals.end(), std::back_inserter(out),
               [kind](const Arrival& a) { return a.kind == kind; });
  return out;
}

inline std::vector<Arrival> Buttons(const std::vector<Arrival>& arrivals) {
  std::vector<Arrival> out;
  std::copy_if(arrivals.begin(), arrivals.end(), std::back_inserter(out),
               [](const Arrival& a) { return a.kind != Arrival::Move; });
  return out;
}

template <typename Harness>
class DesktopConformance : public ::testing::Test {
 protected:
  using Picture = typename decltype(std::declval<Harness&>().Show(
      0, 0, 0, 0, std::declval<const std::vector<uint32_t>&>()))::element_type;

  void SetUp() override {
    const std::string why = harness_.Open();
    ASSERT_TRUE(why.empty()) << why;
    scope_.emplace(harness_.Desktop());
    InitScreenMetrics();
    screen_ = harness_.Desktop().GetScreenSize();
    ASSERT_GT(screen_.Width, 0);
    ASSERT_GT(screen_.Height, 0);
  }
  void TearDown() override { concurrency::SetHelperEnabled(true); }

  platform::Desktop& desktop() { return harness_.Desktop(); }

  // A bitmap of the screen rectangle, as a pass takes it.
  bool Copy(TBDBitmapData& bitmap, int32_t x, int32_t y, int32_t w, int32_t h) {
    return bitmap.CopyFromScreen(desktop(), screen_, x, y, w, h);
  }
  PassResult Pass(const ScreenRect& find, const ScreenRect& click, int32_t similar,
                  int32_t& count) {
    return ClickPass(desktop(), PassInput{find, click, similar, screen_, {}},
                     platform::CancelFlag{}, count);
  }

  // Shows `pixels` at (x, y) and waits until the screen shows them there (a window reaches the
  // screen when its system gets round to it); nullptr when it never does.
  std::unique_ptr<Picture> Show(int x, int y, int w, int h, const std::vector<uint32_t>& pixels) {
    auto picture = harness_.Show(x, y, w, h, pixels);
    if (!picture || !picture->Ok()) return nullptr;
    const int32_t lineBytes = LineBytesFor(w);
    std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * h);
    const bool shown = harness_.PumpUntil(
        [&] {
          if (desktop().Capture(x, y, w, h, bits.data(), lineBytes) != platform::CaptureResult::Ok)
            return false;
          for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
              if (RgbAt(bits.data(), lineBytes, h, c, r) != pixels[static_cast<size_t>(r) * w + c])
                return false;
          return true;
        },
        5000);
    return shown ? std::move(picture) : nullptr;
  }

  // Each capture mode in turn, named in the failures.
  template <typename Body>
  void ForEachCaptureMode(Body body) {
    const std::vector<std::string> modes = harness_.CaptureModes();
    for (size_t mode = 0; mode < modes.size(); ++mode) {
      SCOPED_TRACE("capture mode: " + modes[mode]);
      harness_.UseCaptureMode(mode);
      body();
    }
    harness_.UseCaptureMode(0);
  }

  Harness harness_;
  std::optional<platform::ScopedActiveDesktop> scope_;
  platform::ScreenSize screen_;
};

TYPED_TEST_SUITE_P(DesktopConformance);

TYPED_TEST_P(DesktopConformance, ScreenSizeIsTheSessionsAndSetsTheMetrics) {
  const auto expected = this->harness_.SessionScreen();
  if (!expected) GTEST_SKIP() << "the session's screen size is not known here";
  const platform::ScreenSize size = this->desktop().GetScreenSize();
  EXPECT_EQ(size.Width, expected->Width);
  EXPECT_EQ(size.Height, expected->Height);
  EXPECT_EQ(ScreenMetrics.Width, size.Width);
  EXPECT_EQ(ScreenMetrics.Height, size.Height);
}

TYPED_TEST_P(DesktopConformance, CaptureIsExactBottomUpAndPadded) {
  const int w = 37, h = 23;  // 111 bytes of pixels and one byte of padding per row
  const auto pixels = Pattern(w, h, 7);
  const auto shown = this->Show(401, 302, w, h, pixels);
  ASSERT_TRUE(shown) << "the picture never showed";
  this->ForEachCaptureMode([&] {
    // Raw rows: bottom row first, each 112 bytes, blue, green, red.
    std::vector<uint8_t> bits(112 * h, 0xEE);
    ASSERT_EQ(this->desktop().Capture(401, 302, w, h, bits.data(), 112),
              platform::CaptureResult::Ok);
    const uint32_t bottomLeft = pixels[static_cast<size_t>(h - 1) * w];
    EXPECT_EQ(bits[0], bottomLeft & 0xFF);
    EXPECT_EQ(bits[1], (bottomLeft >> 8) & 0xFF);
    EXPECT_EQ(bits[2], bottomLeft >> 16);
    const uint32_t topRight = pixels[w - 1];
    EXPECT_EQ(RgbAt(bits.data(), 112, h, w - 1, 0), topRight);
    EXPECT_EQ(bits[static_cast<size_t>(h - 1) * 112 + 3 * (w - 1) + 2], topRight >> 16);

    // The whole picture through the engine: the top row is the last one stored.
    TBDBitmapData b;
    ASSERT_TRUE(this->Copy(b, 401, 302, w, h)) << b.LastError;
    ASSERT_EQ(b.LineBytes, 112);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(b.PixelAt(x, y), pixels[static_cast<size_t>(y) * w + x]) << x << "," << y;
    EXPECT_EQ(b.Bits[(h - 1) * b.LineBytes], pixels[0] & 255);

    // Widths that need every amount of padding, from inside the picture.
    for (const int width : {1, 2, 3, 4, 5, w}) {
      SCOPED_TRACE("width " + std::to_string(width));
      TBDBitmapData part;
      ASSERT_TRUE(this->Copy(part, 401 + w - width, 302 + 1, width, h - 1)) << part.LastError;
      EXPECT_EQ(part.LineBytes, LineBytesFor(width));
      EXPECT_EQ(part.LinePad, part.LineBytes - 3 * width);
      EXPECT_TRUE(part.LastError.empty());
      int wrong = 0;
      for (int y = 0; y < part.Height; ++y)
        for (int x = 0; x < part.Width; ++x)
          wrong += part.PixelAt(x, y) != pixels[static_cast<size_t>(y + 1) * w + (w - width + x)];
      EXPECT_EQ(wrong, 0);
    }
  });
}

TYPED_TEST_P(DesktopConformance, PartsOutsideTheScreenReadAsBlack) {
  const int32_t W = this->screen_.Width, H = this->screen_.Height;
  const auto corner = Pattern(20, 20, 3);
  const auto cornerShown = this->Show(W - 20, H - 20, 20, 20, corner);
  const int w = 12, h = 8;
  const auto edge = Pattern(w, h, 5);
  const auto edgeShown = this->Show(W - w, 200, w, h, edge);
  ASSERT_TRUE(cornerShown && edgeShown) << "the pictures never showed";
  struct Case {
    int32_t x, y, w, h;
  };
  this->ForEachCaptureMode([&] {
    for (const Case c : {Case{W - 30, H - 30, 60, 50}, Case{-10, -20, 40, 40},
                         Case{5000, 5000, 10, 10}, Case{W - 1, H - 1, 3, 3},
                         Case{-2147483000, 10, 2147483000, 5}, Case{W - 20, 0, 2147483000, 2}}) {
      SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
      const int32_t cw = std::min(c.w, 100);
      const int32_t lineBytes = LineBytesFor(cw);
      std::vector<uint8_t> bits(static_cast<size_t>(lineBytes) * c.h, 0xEE);
      ASSERT_EQ(this->desktop().Capture(c.x, c.y, cw, c.h, bits.data(), lineBytes),
                platform::CaptureResult::Ok);
      for (int32_t r = 0; r < c.h; ++r) {
        for (int32_t col = 0; col < cw; ++col) {
          const int64_t sx = int64_t{c.x} + col, sy = int64_t{c.y} + r;
          const uint32_t got = RgbAt(bits.data(), lineBytes, c.h, col, r);
          if (sx < 0 || sy < 0 || sx >= W || sy >= H) {
            ASSERT_EQ(got, 0u) << "outside at " << sx << "," << sy;
          } else if (sx >= W - 20 && sy >= H - 20) {
            ASSERT_EQ(got, corner[(sy - (H - 20)) * 20 + (sx - (W - 20))]) << sx << "," << sy;
          }
        }
      }
    }

    // Through the engine: a bitmap reaching past the right edge is black beyond it.
    TBDBitmapData b;
    ASSERT_TRUE(this->Copy(b, W - w, 200, 2 * w, h)) << b.LastError;
    int wrong = 0;
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c)
        wrong += b.PixelAt(c, r) != edge[static_cast<size_t>(r) * w + c];
      for (int c = w; c < 2 * w; ++c)
        wrong += b.PixelAt(c, r) != 0;
    }
    EXPECT_EQ(wrong, 0);
  });
  // The desktop is still usable after all of this.
  EXPECT_EQ(this->desktop().GetScreenSize().Width, W);
}

TYPED_TEST_P(DesktopConformance, FreezeFrameIsTheWholeScreenInCaptureLayout) {
  const int32_t W = this->screen_.Width, H = this->screen_.Height;
  // Pictures in two opposite corners pin down the size, the orientation and the row stride.
  struct Shown {
    int x, y, w, h;
    std::vector<uint32_t> pixels;
  };
  const Shown pictures[] = {{0, 0, 13, 7, Pattern(13, 7, 5)},
                            {W - 13, H - 7, 13, 7, Pattern(13, 7, 9)},
                            {233, 517, 21, 9, Pattern(21, 9, 3)}};
  std::vector<std::unique_ptr<typename TestFixture::Picture>> kept;
  for (const Shown& p : pictures) {
    kept.push_back(this->Show(p.x, p.y, p.w, p.h, p.pixels));
    ASSERT_TRUE(kept.back()) << "the picture at " << p.x << "," << p.y << " never showed";
  }
  this->ForEachCaptureMode([&] {
    platform::Frame frame;
    ASSERT_TRUE(this->desktop().CaptureFrame(frame));
    ASSERT_EQ(frame.Width, W);
    ASSERT_EQ(frame.Height, H);
    ASSERT_EQ(frame.LineBytes, LineBytesFor(W));
    ASSERT_EQ(frame.Bits.size(), static_cast<size_t>(frame.LineBytes) * H);
    for (const Shown& p : pictures) {
      int wrong = 0;
      for (int r = 0; r < p.h; ++r)
        for (int c = 0; c < p.w; ++c)
          wrong += RgbAt(frame.Bits.data(), frame.LineBytes, frame.Height, p.x + c, p.y + r) !=
                   p.pixels[static_cast<size_t>(r) * p.w + c];
      EXPECT_EQ(wrong, 0) << "the picture at " << p.x << "," << p.y;
    }
  });
}

// Captures large enough to be converted on both cores, with a row length that needs padding and
// a height that splits unevenly: every pixel where it belongs, with or without the helper.
TYPED_TEST_P(DesktopConformance, LargeCapturesAreExactWhenTheWorkIsShared) {
  const int w = 1021, h = 307;
  const std::vector<uint32_t> pixels = Noise(w, h, 9);
  const auto shown = this->Show(13, 17, w, h, pixels);
  ASSERT_TRUE(shown) << "the picture never showed";
  for (const bool helper : {true, false}) {
    SCOPED_TRACE(helper ? "with the helper" : "without the helper");
    concurrency::SetHelperEnabled(helper);
    this->ForEachCaptureMode([&] {
      TBDBitmapData b;
      ASSERT_TRUE(this->Copy(b, 13, 17, w, h)) << b.LastError;
      ASSERT_EQ(b.LinePad, 1);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(b.PixelAt(x, y), pixels[static_cast<size_t>(y) * w + x]) << x << "," << y;
    });
  }
}

TYPED_TEST_P(DesktopConformance, PointerMoveAndClickReachThePictureAtThatPoint) {
  const std::vector<uint32_t> grey(200 * 100, 0x808080);
  const auto window = this->Show(600, 500, 200, 100, grey);
  ASSERT_TRUE(window) << "the picture never showed";
  // From elsewhere, so that the move is a move into the picture.
  this->desktop().MovePointer(0, 0);
  this->harness_.PumpUntil({}, 100);

  EXPECT_TRUE(this->desktop().MovePointer(650, 540)) << "the system took no move";
  EXPECT_TRUE(this->harness_.PumpUntil(
      [&] { return !OfKind(window->Arrivals(), Arrival::Move).empty(); }, 5000))
      << "the pointer never reached the picture";
  // Neither button moves the pointer.
  EXPECT_TRUE(this->desktop().LeftButtonDown());
  EXPECT_TRUE(this->desktop().LeftButtonUp());
  ASSERT_TRUE(this->harness_.PumpUntil(
      [&] { return !OfKind(window->Arrivals(), Arrival::Release).empty(); }, 5000))
      << "the click never reached the picture";
  const auto arrivals = window->Arrivals();
  const auto moves = OfKind(arrivals, Arrival::Move);
  const auto downs = OfKind(arrivals, Arrival::Press);
  const auto ups = OfKind(arrivals, Arrival::Release);
  ASSERT_FALSE(moves.empty());
  ASSERT_EQ(downs.size(), 1u);
  ASSERT_EQ(ups.size(), 1u);
  for (const Arrival& a : {downs[0], ups[0], moves.back()}) {
    EXPECT_EQ(a.x, 50);
    EXPECT_EQ(a.y, 40);
    EXPECT_EQ(a.screenX, 650);
    EXPECT_EQ(a.screenY, 540);
  }
  EXPECT_EQ(downs[0].button, 1);
}

// The find scope shows the needle alone; the click scope holds a larger picture with the needle
// inside. One press and one release of the left button arrive at the centre of the match.
TYPED_TEST_P(DesktopConformance, APassClicksTheCentreOfTheMatch) {
  struct Case {
    int nw, nh;
    uint32_t seed;
    int hx, hy, hw, hh;  // the larger picture
    uint32_t background;
    int atX, atY;  // where the needle lies in it
    ScreenRect clickScope;
    int32_t similar;
  };
  for (const Case c :
       {Case{48, 32, 11, 800, 500, 300, 200, 0xF0F0F0, 70, 45, {780, 480, 1200, 800}, 100},
        Case{48, 32, 11, 800, 500, 300, 200, 0xF0F0F0, 70, 45, {780, 480, 1200, 800}, 90},
        Case{16, 12, 29, 300, 200, 160, 120, 0x204060, 70, 50, {300, 200, 460, 320}, 100}}) {
    SCOPED_TRACE(std::to_string(c.nw) + "x" + std::to_string(c.nh) + ", similarity " +
                 std::to_string(c.similar));
    const auto needle = Pattern(c.nw, c.nh, c.seed);
    std::vector<uint32_t> haystack(static_cast<size_t>(c.hw) * c.hh, c.background);
    for (int y = 0; y < c.nh; ++y)
      for (int x = 0; x < c.nw; ++x)
        haystack[static_cast<size_t>(c.atY + y) * c.hw + c.atX + x] =
            needle[static_cast<size_t>(y) * c.nw + x];
    const auto find = this->Show(100, 100, c.nw, c.nh, needle);
    const auto click = this->Show(c.hx, c.hy, c.hw, c.hh, haystack);
    ASSERT_TRUE(find && click) << "the pictures never showed";

    int32_t count = 0;
    EXPECT_EQ(
        this->Pass({100, 100, 100 + c.nw, 100 + c.nh}, c.clickScope, c.similar, count).Outcome,
        PassOutcome::Clicked);
    EXPECT_EQ(count, 1);
    ASSERT_TRUE(this->harness_.PumpUntil(
        [&] { return !OfKind(click->Arrivals(), Arrival::Release).empty(); }, 5000))
        << "the click never arrived";
    this->harness_.PumpUntil({}, 200);  // anything more would arrive now
    const auto buttons = Buttons(click->Arrivals());
    ASSERT_EQ(buttons.size(), 2u);
    EXPECT_EQ(buttons[0].kind, Arrival::Press);
    EXPECT_EQ(buttons[1].kind, Arrival::Release);
    for (const Arrival& a : buttons) {
      EXPECT_EQ(a.button, 1);
      EXPECT_EQ(a.x, c.atX + c.nw / 2);
      EXPECT_EQ(a.y, c.atY + c.nh / 2);
      EXPECT_EQ(a.screenX, c.hx + c.atX + c.nw / 2);
      EXPECT_EQ(a.screenY, c.hy + c.atY + c.nh / 2);
    }
    EXPECT_TRUE(Buttons(find->Arrivals()).empty());
  }
}

TYPED_TEST_P(DesktopConformance, NoMatchClicksNothing) {
  const auto find = this->Show(100, 100, 16, 16, Pattern(16, 16, 99));
  const auto click = this->Show(800, 500, 100, 100, std::vector<uint32_t>(100 * 100, 0x101010));
  ASSERT_TRUE(find && click) << "the pictures never showed";
  int32_t count = 0;
  EXPECT_EQ(this->Pass({100, 100, 116, 116}, {800, 500, 900, 600}, 100, count).Outcome,
            PassOutcome::NotFound);
  EXPECT_EQ(count, 0);
  this->harness_.PumpUntil({}, 200);
  EXPECT_TRUE(Buttons(click->Arrivals()).empty());
}

REGISTER_TYPED_TEST_SUITE_P(DesktopConformance, ScreenSizeIsTheSessionsAndSetsTheMetrics,
                            CaptureIsExactBottomUpAndPadded, PartsOutsideTheScreenReadAsBlack,
                            FreezeFrameIsTheWholeScreenInCaptureLayout,
                            LargeCapturesAreExactWhenTheWorkIsShared,
                            PointerMoveAndClickReachThePictureAtThatPoint,
                            APassClicksTheCentreOfTheMatch, NoMatchClicksNothing);

}  // namespace ostrane::testkit
