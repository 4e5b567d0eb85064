#include "platform/wayland/RestoreToken.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace ostrane::platform::wayland {

namespace {

constexpr const char* kFileName = "restore-token";
// Tokens are short printable words (the portal's are UUIDs); anything else in the file is not
// one, and is never sent.
constexpr size_t kMaxToken = 512;

bool IsToken(const std::string& text) {
  if (text.empty() || text.size() > kMaxToken) return false;
  for (const char c : text)
    if (c <= 0x20 || c >= 0x7f) return false;
  return true;
}

std::string Why(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Makes `dir` and its missing parents, each new one for the user alone, and the last one so
// whatever it was.
bool MakeFolder(const std::string& dir, std::string& error) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    const std::string part = dir.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = Why("cannot make", part);
      return false;
    }
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (lstat(dir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    error = Why("not a folder:", dir);
    return false;
  }
  if ((info.st_mode & 0777) != 0700 && chmod(dir.c_str(), 0700) != 0) {
    error = Why("cannot make private", dir);
    return false;
  }
  return true;
}

}  // namespace

std::string RestoreTokens::DefaultDir() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/ostrane";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') {
    const passwd* user = getpwuid(getuid());
    home = user ? user->pw_dir : nullptr;
  }
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/.local/state/ostrane";
}

std::string RestoreTokens::Path() const {
  return dir_.empty() ? std::string() : dir_ + "/" + kFileName;
}

std::string RestoreTokens::Load() const {
  if (dir_.empty()) return {};
  const int fd = open(Path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= off_t(kMaxToken + 1)) {
    char buffer[kMaxToken + 2];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) text.assign(buffer, static_cast<size_t>(got));
  }
  close(fd);
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return IsToken(text) ? text : std::string();
}

bool RestoreTokens::Save(const std::string& token, std::string& error) {
  if (dir_.empty()) {
    error = "no folder to keep it in";
    return false;
  }
  if (!IsToken(token)) {
    Drop();
    error = "the portal's token is not a plain word";
    return false;
  }
  if (!MakeFolder(dir_, error)) {
    Drop();
    return false;
  }
  // Written beside the file and renamed over it: a reader sees the old token or the new one.
  std::string temporary = Path() + ".XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);  // mode 0600
  if (fd < 0) {
    error = Why("cannot write in", dir_);
    Drop();
    return false;
  }
  const std::string text = token + "\n";
  bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size()) && fchmod(fd, 0600) == 0 &&
            fsync(fd) == 0;
  if (!ok) error = Why("cannot write", temporary);
  if (close(fd) != 0 && ok) {
    ok = false;
    error = Why("cannot write", temporary);
  }
  if (ok && rename(temporary.c_str(), Path().c_str()) != 0) {
    ok = false;
    error = Why("cannot replace", Path());
  }
  if (!ok) {
    unlink(temporary.c_str());
    Drop();
  }
  return ok;
}

void RestoreTokens::Drop() {
  if (!dir_.empty()) unlink(Path().c_str());
}

}  // namespace ostrane::platform::wayland
