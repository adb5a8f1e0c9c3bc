#include "support/lumo_run.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/wine.h"

extern char** environ;

namespace {

// The child's environment: the test's own, less what would change lumo's output, plus TZ and
// the locale of the run.
std::vector<std::string> ChildEnvironment(const LumoRun& run) {
  std::vector<std::string> env;
  for (char** var = environ; *var != nullptr; ++var) {
    if (strncmp(*var, "TZ=", 3) == 0 || strncmp(*var, "LC_", 3) == 0 ||
        strncmp(*var, "LANG=", 5) == 0 || strncmp(*var, "WINE", 4) == 0) {
      continue;
    }
    env.push_back(*var);
  }
  env.push_back("TZ=" + run.tz);
  if (Win32Executable().empty() || run.posixBuild) {
    env.push_back("LC_ALL=" + run.locale);
  } else {
    for (const std::string& var : WineVariables(run.codePage)) env.push_back(var);
  }
  return env;
}

void ReadBoth(int outFd, int errFd, LumoResult* result) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result->out, &result->err};
  int open = 2;
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char chunk[65536];
      const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
      if (got > 0) {
        sinks[i]->append(chunk, static_cast<size_t>(got));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
}

// posix_spawn cannot change the user, so the run as another user is forked by hand.
int SpawnAsUser(const std::string& user, const LumoRun& run, char** argv, char** envp, int outFd,
                int errFd, pid_t* pid) {
  const passwd* entry = getpwnam(user.c_str());
  if (entry == nullptr) return ENOENT;
  const uid_t uid = entry->pw_uid;
  const gid_t gid = entry->pw_gid;
  *pid = fork();
  if (*pid < 0) return errno;
  if (*pid > 0) return 0;
  const int input = open("/dev/null", O_RDONLY);
  if (input < 0 || dup2(input, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0 ||
      (!run.cwd.empty() && chdir(run.cwd.c_str()) != 0) || setgroups(0, nullptr) != 0 ||
      setgid(gid) != 0 || setuid(uid) != 0) {
    _exit(127);
  }
  if (input > 2) close(input);
  execve(argv[0], argv, envp);
  _exit(127);
}

LumoResult Run(const std::string& binary, const std::string& user,
               const std::vector<std::string>& args, const LumoRun& run) {
  LumoResult result;
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!run.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, run.cwd.c_str());

  const bool win32 = !Win32Executable().empty() && !run.posixBuild;
  if (win32) StartWine();
  std::vector<std::string> argStrings{binary};
  if (win32) argStrings = {WineLoader(), Win32Executable()};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings = ChildEnvironment(run);
  std::vector<char*> envp;
  for (std::string& var : envStrings) envp.push_back(var.data());
  envp.push_back(nullptr);

  pid_t pid = -1;
  const int spawned =
      !user.empty() && geteuid() == 0 && !win32
          ? SpawnAsUser(user, run, argv.data(), envp.data(), outPipe[1], errPipe[1], &pid)
          : posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    return result;
  }
  ReadBoth(outPipe[0], errPipe[0], &result);
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  result.status = waited == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.raw = result.out;
  if (win32) result.out = PosixForm(result.raw, run.codePage);
  return result;
}

}  // namespace

LumoResult RunLumo(const std::vector<std::string>& args, const LumoRun& run) {
  return Run(LUMO_BINARY, "", args, run);
}

LumoResult RunProgram(const std::string& binary, const std::vector<std::string>& args,
                      const LumoRun& run) {
  return Run(binary, "", args, run);
}

LumoResult RunLumoAs(const std::string& user, const std::vector<std::string>& args,
                     const LumoRun& run) {
  return Run(LUMO_BINARY, user, args, run);
}
