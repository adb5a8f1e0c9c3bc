#include "support/wine.h"

#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <locale.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace {

// Its ANSI code page is 932.
const std::string kLocale = "ja_JP.UTF-8";
// Wine gives the C locale code page 1252; UTF-8 lets it read every host name.
const std::string kWesternLocale = "C.UTF-8";

// LOCPATH for Wine, where the system lacks the Japanese locale: one made in the prefix.
std::string gLocalePath;

}  // namespace

std::string WinePrefix() {
  const char* chosen = getenv("LUMO_WINEPREFIX");
  if (chosen != nullptr && *chosen != '\0') return chosen;
  const std::string& exe = Win32Executable();
  return exe.substr(0, exe.rfind('/') + 1) + "wineprefix";
}

namespace {

// Runs a Wine tool with the Wine variables, its output discarded, and returns its exit status.
int RunTool(std::vector<std::string> args) {
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) {
    if (strncmp(*var, "WINE", 4) != 0 && strncmp(*var, "LC_", 3) != 0 &&
        strncmp(*var, "LANG=", 5) != 0) {
      env.push_back(*var);
    }
  }
  for (const std::string& var : WineVariables()) env.push_back(var);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& var : env) envp.push_back(var.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The server outlives the tests: it keeps none of their descriptors.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Whether the prefix is a 64-bit one (Wine notes its architecture in system.reg).
bool IsWin64Prefix() {
  std::ifstream registry(WinePrefix() + "/system.reg");
  std::string line;
  while (std::getline(registry, line)) {
    if (line.starts_with("#arch=")) return line == "#arch=win64";
  }
  return false;
}

void StopWine() {
  RunTool({"wineserver", "-k"});
}

// iconv's CP932 or CP1252 to UTF-8; a byte it cannot take becomes a visible marker.
std::string CodePageToUtf8(const std::string& text, int codePage) {
  static const iconv_t japanese = iconv_open("UTF-8", "CP932");
  static const iconv_t western = iconv_open("UTF-8", "CP1252");
  const iconv_t converter = codePage == 1252 ? western : japanese;
  if (converter == reinterpret_cast<iconv_t>(-1)) return text;
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::string out;
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  while (inLeft > 0) {
    char chunk[4096];
    char* outPtr = chunk;
    size_t outLeft = sizeof chunk;
    const size_t result = iconv(converter, &in, &inLeft, &outPtr, &outLeft);
    out.append(chunk, static_cast<size_t>(outPtr - chunk));
    if (result != static_cast<size_t>(-1) || errno == E2BIG) continue;
    out += "<bad byte>";
    ++in;
    --inLeft;
  }
  return out;
}

void ReplaceAll(std::string* text, const std::string& from, const std::string& to) {
  for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at)) {
    text->replace(at, from.size(), to);
    at += to.size();
  }
}

// Whether the PE image at `path` is one for x86-64 (its COFF machine is 0x8664).
bool IsX64Image(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  unsigned char header[4096] = {};
  file.read(reinterpret_cast<char*>(header), sizeof header);
  const uint32_t peOffset = header[0x3c] | header[0x3d] << 8 | header[0x3e] << 16 |
                            static_cast<uint32_t>(header[0x3f]) << 24;
  if (peOffset > sizeof header - 6) return false;
  return header[peOffset + 4] == 0x64 && header[peOffset + 5] == 0x86;
}

}  // namespace

namespace {

// 64-bit Wine's own loader: Debian's "wine" hands every program to the 32-bit one where
// wine32 is installed, which may run only through an emulator.
const std::string& Wine64Loader() {
  static const std::string loader = [] {
    const std::string debian = "/usr/lib/wine/wine64";
    return access(debian.c_str(), X_OK) == 0 ? debian : std::string("wine64");
  }();
  return loader;
}

}  // namespace

const std::string& WineLoader() {
  static const std::string loader =
      IsX64Image(Win32Executable()) ? Wine64Loader() : std::string("wine");
  return loader;
}

const std::string& Win32Executable() {
  static const std::string exe = [] {
    const char* given = getenv("LUMO_WIN32_EXE");
    if (given == nullptr || *given == '\0') return std::string();
    char* real = realpath(given, nullptr);
    if (real == nullptr) {
      fprintf(stderr, "LUMO_WIN32_EXE: %s: not found\n", given);
      abort();
    }
    std::string path = real;
    free(real);
    return path;
  }();
  return exe;
}

std::vector<std::string> WineVariables(int codePage) {
  const std::string& locale = codePage == 1252 ? kWesternLocale : kLocale;
  std::vector<std::string> vars = {"WINEPREFIX=" + WinePrefix(), "WINEARCH=win64", "WINEDEBUG=-all",
                                   "WINEDLLOVERRIDES=mscoree,mshtml=", "LC_ALL=" + locale};
  if (!gLocalePath.empty()) vars.push_back("LOCPATH=" + gLocalePath);
  return vars;
}

void StartWine() {
  static bool started = false;
  if (started) return;
  started = true;
  // Wine takes the ANSI code page from the locale's name, but reads host file names and
  // arguments in its charset, which it has only if the locale exists.
  const locale_t exists = newlocale(LC_ALL_MASK, kLocale.c_str(), nullptr);
  if (exists != nullptr) {
    freelocale(exists);
  } else {
    const std::string path = WinePrefix() + "/locale";
    const std::string made = path + "/" + kLocale + "/LC_CTYPE";
    struct stat status;
    if (stat(made.c_str(), &status) != 0) {
      RunTool({"mkdir", "-p", path});
      RunTool({"localedef", "-i", "ja_JP", "-f", "UTF-8", path + "/" + kLocale});
    }
    if (stat(made.c_str(), &status) != 0) {
      fprintf(stderr, "cannot make the %s locale (package locales)\n", kLocale.c_str());
      abort();
    }
    gLocalePath = path;
  }
  struct stat status;
  if (stat((WinePrefix() + "/system.reg").c_str(), &status) != 0) {
    // A first boot takes a while; the server it leaves is let go before ours starts.
    if (RunTool({Wine64Loader(), "wineboot", "-i"}) != 0) {
      fprintf(stderr, "wineboot failed for %s\n", WinePrefix().c_str());
      abort();
    }
    RunTool({"wineserver", "-w"});
  }
  if (!IsWin64Prefix()) {
    fprintf(stderr, "%s is not a 64-bit prefix: remove it to have one made\n",
            WinePrefix().c_str());
    abort();
  }
  // Persistent for a minute after its last client, should the tests not get to stop it.
  const int server = RunTool({"wineserver", "-p60"});
  if (server == 0) {
    atexit(StopWine);
  } else if (server != 2) {  // 2: one already runs for the prefix
    fprintf(stderr, "wineserver failed for %s\n", WinePrefix().c_str());
    abort();
  }
  // The first program of a session starts Wine's services, which inherit its output and hold
  // it open: they start here, on /dev/null, rather than on a test's pipes (from a 64-bit
  // program, which starts at once even where 32-bit ones run emulated).
  RunTool({Wine64Loader(), "cmd", "/c", "exit"});
}

std::string PosixForm(const std::string& raw, int codePage) {
  std::string lines;
  lines.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) lines += "<LF>";
    lines += raw[i];
  }
  std::string text = CodePageToUtf8(lines, codePage);
  ReplaceAll(&text, "Z:\\", "/");
  ReplaceAll(&text, "\\", "/");
  return text;
}
