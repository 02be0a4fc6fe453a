// SPDX-License-Identifier: MIT
#include "cli/terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

bool stdoutIsTerminal()
{
    return isatty(STDOUT_FILENO) != 0;
}

void readStdinAsBytes()
{
    // Bytes already.
}

long startTextAgent()
{
    if (isatty(STDIN_FILENO) == 0)
        return 0;
    int ready[2];
    if (pipe(ready) != 0)
        return 0;
    // The agent closes its notify descriptor once it is registered.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclose(&actions, ready[0]);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 3);
    // In a login session, a desktop's agent comes first. polkit uses a fallback
    // agent only through a session, so outside one ours is the agent.
    const char *const session = std::getenv("XDG_SESSION_ID");
    const std::string process = std::to_string(getpid());
    const char *const argv[] = {"pkttyagent", "--process", process.c_str(), "--notify-fd", "3",
                                session && *session ? "--fallback" : nullptr, nullptr};
    pid_t agent = 0;
    const int spawned = posix_spawnp(&agent, "pkttyagent", &actions, nullptr, const_cast<char *const *>(argv),
                                     environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    if (spawned != 0) {
        close(ready[0]);
        return 0;
    }
    pollfd wait{ready[0], POLLIN, 0};
    char byte;
    // Registered, or gone: either way the pipe's end comes within moments.
    while (poll(&wait, 1, 5000) > 0 && read(ready[0], &byte, 1) > 0) {
    }
    close(ready[0]);
    return agent;
}

void stopTextAgent(long agent)
{
    if (agent <= 0)
        return;
    kill(pid_t(agent), SIGTERM);
    int status = 0;
    while (waitpid(pid_t(agent), &status, 0) < 0 && errno == EINTR) {
    }
}
