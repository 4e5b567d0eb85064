// The backend once Qt runs on the same X server. Qt's X connection sets the process-wide X error
// handler when the application object is made, after the backend set its own, as in the program.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <memory>
#include <string>

#include "engine/BitmapData.h"
#include "engine/ClickPass.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Error.h"
#include "tests/support/PrivateXEnvironment.h"
// Xlib last: its macros (None, Bool, Status) clash with Qt's names.
// clang-format off
#include <X11/Xlib.h>
#include <X11/keysym.h>
// clang-format on

namespace ostrane {
namespace {

using platform::x11::ErrorTrap;
using platform::x11::InstallErrorHandlers;
using platform::x11::X11Desktop;

// No window has this identifier on a fresh server.
constexpr Window kNoWindow = 0x1fffff0;

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++n;
  return n;
}

class AfterQt : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testkit::PrivateXAvailable()) return;
    std::string error;
    desktop_ = X11Desktop::Open(nullptr, error).release();
    static int argc = 1;
    static char name[] = "x11_qt_tests";
    static char* argv[] = {name, nullptr};
    app_ = new QGuiApplication(argc, argv);
    // What the program finds once Qt has started: Qt's handler in place of ours.
    qtHandler_ = XSetErrorHandler(nullptr);
    XSetErrorHandler(qtHandler_);
  }
  static void TearDownTestSuite() {
    delete app_;  // before the server goes
    delete desktop_;
  }
  void SetUp() override {
    ASSERT_TRUE(testkit::PrivateXAvailable());
    ASSERT_TRUE(desktop_);
    auto* x11 = app_->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11 && x11->display()) << "Qt runs without an Xlib display of its own";
    qtDisplay_ = x11->display();
  }

  static X11Desktop* desktop_;
  static QGuiApplication* app_;
  static XErrorHandler qtHandler_;
  Display* qtDisplay_ = nullptr;
};

X11Desktop* AfterQt::desktop_ = nullptr;
QGuiApplication* AfterQt::app_ = nullptr;
XErrorHandler AfterQt::qtHandler_ = nullptr;

TEST_F(AfterQt, RequestsTheServerRefusesAreSeenAsRefused) {
  // As right after Qt started: nothing of ours has run since.
  XSetErrorHandler(qtHandler_);
  Display* d = desktop_->display();
  {
    ErrorTrap trap(d);
    XMapWindow(d, kNoWindow);
    EXPECT_TRUE(trap.Failed());
    EXPECT_EQ(trap.ErrorCode(), BadWindow);
  }

  // F9 held by another client: the registration fails, says why, and F10 is not affected.
  Display* other = XOpenDisplay(nullptr);
  ASSERT_TRUE(other);
  const Window root = DefaultRootWindow(other);
  XGrabKey(other, XKeysymToKeycode(other, XK_F9), AnyModifier, root, True, GrabModeAsync,
           GrabModeAsync);
  XSync(other, False);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(desktop_->RegisterHotKey("1", platform::Key::F9));
  EXPECT_TRUE(desktop_->RegisterHotKey("2", platform::Key::F10));
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said, "ostrane: F9 is held by another program\n");
  desktop_->UnregisterHotKey("2");

  // A capture the server refuses (of a window that is not shown) fails, and nothing is
  // clicked, with shared memory and without.
  const Window hidden = XCreateSimpleWindow(other, root, 0, 0, 50, 50, 0, 0, 0);  // never mapped
  XSync(other, False);
  const platform::ScopedActiveDesktop active(*desktop_);
  InitScreenMetrics();
  desktop_->SetCaptureSource(hidden);
  for (const bool shm : {true, false}) {
    desktop_->SetUseSharedMemory(shm);
    std::vector<uint8_t> bits(12 * 4);
    EXPECT_EQ(desktop_->Capture(0, 0, 4, 4, bits.data(), 12), platform::CaptureResult::CopyFailed)
        << "shm " << shm;
    int32_t clicks = 0;
    const PassInput input{
        {0, 0, 2, 2}, {0, 0, 20, 20}, 100, {ScreenMetrics.Width, ScreenMetrics.Height}, {}};
    EXPECT_EQ(ClickPass(*desktop_, input, {}, clicks).Outcome, PassOutcome::CaptureFailed)
        << "shm " << shm;
    EXPECT_EQ(clicks, 0) << "shm " << shm;
  }
  desktop_->SetCaptureSource(0);
  desktop_->SetUseSharedMemory(true);
  XDestroyWindow(other, hidden);
  XCloseDisplay(other);
}

// Errors outside any trap: those of the backend's own connections are reported and ignored;
// those of other connections (Qt's) go to whichever handler was there before ours, unless that
// is Xlib's default, which would end the program.
int g_recorded = 0;
int Recorder(Display*, XErrorEvent*) {
  ++g_recorded;
  return 0;
}

TEST_F(AfterQt, ErrorsOfOtherConnectionsGoToTheHandlerOursReplaced) {
  struct Case {
    const char* name;
    XErrorHandler before;  // set by another library after ours; null: Xlib's default
    int ownReported, otherReported, otherRecorded;
  };
  for (const Case c : {Case{"Qt's", qtHandler_, 1, 0, 0}, Case{"a recorder", Recorder, 1, 0, 1},
                       Case{"Xlib's default", nullptr, 1, 1, 0}}) {
    XSetErrorHandler(c.before);
    InstallErrorHandlers();  // as the glue does once the application object exists
    g_recorded = 0;
    ::testing::internal::CaptureStderr();
    XWindowAttributes attributes;
    EXPECT_EQ(XGetWindowAttributes(desktop_->display(), kNoWindow, &attributes), 0);
    const std::string own = ::testing::internal::GetCapturedStderr();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(XGetWindowAttributes(qtDisplay_, kNoWindow, &attributes), 0);
    const std::string other = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(own, "ostrane: ignored X error"), c.ownReported) << c.name << ": " << own;
    EXPECT_EQ(Count(other, "ostrane: ignored X error"), c.otherReported) << c.name << ": " << other;
    EXPECT_EQ(g_recorded, c.otherRecorded) << c.name;
  }
  XSetErrorHandler(qtHandler_);
  InstallErrorHandlers();
}

}  // namespace
}  // namespace ostrane

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "xcb");
  ostrane::testkit::RegisterPrivateXEnvironment("800x600");
  return RUN_ALL_TESTS();
}
