#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

extern char** environ;

namespace qz::bletest {

// A dbus-daemon of the test's own, listening on a socket in a fresh folder; stopped (and the
// folder removed) with the object. `address` is empty when it could not be started, and
// `error` says why. The folder is under /tmp whatever $TMPDIR says: a socket's path has room
// for 107 bytes only.
class PrivateBus {
  public:
    PrivateBus() {
        const auto config = folder_ / "bus.conf";
        testsupport::writeText(
            config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:path=" +
                (folder_ / "bus").string() +
                "</listen>\n"
                "  <auth>EXTERNAL</auth>\n"
                "  <policy context=\"default\">\n"
                "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                "    <allow eavesdrop=\"true\"/>\n"
                "    <allow own=\"*\"/>\n"
                "    <allow user=\"*\"/>\n"
                "  </policy>\n"
                "</busconfig>\n");
        int out[2];
        if (::pipe(out) != 0) {
            error = "no pipe";
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::string configArg = "--config-file=" + config.string();
        char* argv[] = {const_cast<char*>("dbus-daemon"),     configArg.data(),
                        const_cast<char*>("--nofork"),        const_cast<char*>("--nopidfile"),
                        const_cast<char*>("--print-address"), nullptr};
        int rc = posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) {
            ::close(out[0]);
            pid_ = -1;
            error = "dbus-daemon could not be started (is the dbus-daemon package installed?)";
            return;
        }
        // The daemon prints its address once it listens.
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        if (line.empty()) {
            error = "dbus-daemon printed no address";
            return;
        }
        address = line;
    }
    ~PrivateBus() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status;
            ::waitpid(pid_, &status, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // The bus's own folder, for files of its services.
    const std::filesystem::path& folder() const { return folder_.path(); }

    std::string address;
    std::string error;

  private:
    // A folder of its own with a short path, removed with the object.
    class ShortFolder {
      public:
        ShortFolder() : path_(Paths::makeUniqueDirectory("qzbus", "/tmp").value()) {}
        ~ShortFolder() {
            std::error_code ec;
            std::filesystem::remove_all(path_, ec);
        }
        const std::filesystem::path& path() const { return path_; }
        std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

      private:
        std::filesystem::path path_;
    };

    ShortFolder folder_;
    pid_t pid_ = -1;
};

}  // namespace qz::bletest
