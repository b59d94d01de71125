#pragma once

// Debian's Network UPS Tools around smdhost: each test's own upsd on a
// private folder and loopback port, never the system's, what upsc says of a
// UPS, and a raw client of a driver socket, as a hostile local user might be.
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/HostFixture.h"
#include "tests/e2e/LoopbackPort.h"

namespace e2e {

constexpr const char* kUpsd = "/lib/nut/upsd";
constexpr const char* kUpsmon = "/lib/nut/upsmon";
constexpr const char* kUpsc = "/usr/bin/upsc";

// What upsc said: its variables, or its error ("Error: Data stale").
struct Upsc {
    int status = -1;
    std::map<std::string, std::string> variables;
    std::string error;
};

inline std::string UserName()
{
    const passwd* user = getpwuid(geteuid());
    return user != nullptr ? user->pw_name : "root";
}

inline std::string GroupName()
{
    const group* found = getgrgid(getegid());
    return found != nullptr ? found->gr_name : "root";
}

// A client of a driver socket, as a hostile local user might be.
class RawClient {
public:
    using Clock = std::chrono::steady_clock;

    explicit RawClient(const std::string& path) : fd_(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~RawClient() { close(fd_); }

    bool Connected() const { return connected_; }
    void Send(const std::string& text) const { (void)!send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }

    // What came until `until` is in it, the server closed or the limit passed.
    std::string ReadUntil(const std::string& until, std::chrono::milliseconds limit = seconds(20))
    {
        const auto deadline = Clock::now() + limit;
        while (!closed_ && got_.find(until) == std::string::npos) {
            pollfd in{fd_, POLLIN, 0};
            if (poll(&in, 1, 100) <= 0) {
                if (Clock::now() >= deadline) {
                    break;
                }
                continue;
            }
            char bytes[4096];
            const ssize_t n = recv(fd_, bytes, sizeof(bytes), 0);
            if (n <= 0) {
                closed_ = true;
                break;
            }
            got_.append(bytes, static_cast<std::size_t>(n));
        }
        return got_;
    }
    // True once the server has closed the connection (read until then).
    bool ClosedByServer(std::chrono::milliseconds limit = seconds(20))
    {
        ReadUntil("\x01never\x01", limit);
        return closed_;
    }

private:
    int fd_;
    bool connected_ = false;
    bool closed_ = false;
    std::string got_;
};

// upsd on the test's own folders and port, and upsc asking it.
class NutServer : public EndToEnd {
protected:
    using Clock = std::chrono::steady_clock;

    int port = FreePort();
    std::string nut_dir;  // upsd's state folder, where the driver sockets are
    std::string etc;      // upsd's configuration
    std::string upsd_user = UserName();  // upsd runs as this user and reads its files as it
    std::unique_ptr<Child> upsd;

    void SetUp() override
    {
        EndToEnd::SetUp();
        nut_dir = dir + "/nut";
        etc = dir + "/etc";
        std::filesystem::create_directories(etc);
        ASSERT_TRUE(std::filesystem::exists(kUpsd) && std::filesystem::exists(kUpsc))
            << "Network UPS Tools is missing: cmake/install-deps.sh nut installs it";
    }

    void TearDown() override
    {
        upsd.reset();
        EndToEnd::TearDown();
    }

    // NUT's files as upsd reads them: `ups_conf`, upsd.conf listening on the
    // test's port with `upsd_conf` after it, and a user for upsmon; readable
    // by upsd's user, as Debian's are.
    void WriteNutFiles(const std::string& ups_conf, const std::string& upsd_conf = "")
    {
        std::ofstream(etc + "/ups.conf") << ups_conf;
        std::ofstream(etc + "/upsd.conf") << "LISTEN 127.0.0.1 " << port << "\n" << upsd_conf;
        std::ofstream(etc + "/upsd.users") << "[mon]\n  password = secret\n  upsmon primary\n";
        const passwd* reader = getpwnam(upsd_user.c_str());
        for (const char* file : {"/ups.conf", "/upsd.conf", "/upsd.users"}) {
            chmod((etc + file).c_str(), 0640);
            (void)!chown((etc + file).c_str(), static_cast<uid_t>(-1),
                         reader != nullptr ? reader->pw_gid : getegid());
        }
    }

    std::function<void()> NutEnvironment() const
    {
        return [this] {
            setenv("NUT_CONFPATH", etc.c_str(), 1);
            setenv("NUT_STATEPATH", nut_dir.c_str(), 1);
        };
    }

    // upsd on its own folder and port; waits until it answers.
    void StartUpsd()
    {
        std::filesystem::create_directories(nut_dir);
        upsd = std::make_unique<Child>(std::vector<std::string>{kUpsd, "-u", upsd_user, "-F"},
                                       dir + "/upsd.err", NutEnvironment());
        for (const auto deadline = Clock::now() + seconds(20); Clock::now() < deadline;) {
            if (RunUpsc({"-l", "127.0.0.1:" + std::to_string(port)}).status == 0) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        FAIL() << "upsd did not come up: " << ReadFile(dir + "/upsd.err");
    }

    Upsc RunUpsc(std::vector<std::string> args)
    {
        args.insert(args.begin(), kUpsc);
        const std::string errors = dir + "/upsc.err";
        std::filesystem::remove(errors);
        Child upsc(args, errors);
        Upsc said;
        for (auto line = upsc.ReadLine(seconds(10)); line; line = upsc.ReadLine(seconds(10))) {
            const std::size_t colon = line->find(": ");
            said.variables[line->substr(0, colon)] =
                colon == std::string::npos ? "" : line->substr(colon + 2);
        }
        said.status = upsc.Wait(seconds(10));
        said.error = ReadFile(errors);
        return said;
    }

    Upsc Query(const std::string& ups) { return RunUpsc({ups + "@127.0.0.1:" + std::to_string(port)}); }

    // Asks upsc until `wanted` holds of what it says (20 s at most).
    template <typename Wanted>
    Upsc QueryUntil(const std::string& ups, Wanted wanted)
    {
        Upsc said;
        for (const auto deadline = Clock::now() + seconds(20); Clock::now() < deadline;) {
            said = Query(ups);
            if (wanted(said)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return said;
    }

    Upsc QueryStatus(const std::string& ups, const std::string& status)
    {
        return QueryUntil(ups, [&](const Upsc& said) {
            return said.status == 0 && said.variables.count("ups.status") &&
                   said.variables.at("ups.status") == status;
        });
    }

    Upsc QueryStale(const std::string& ups)
    {
        return QueryUntil(ups, [](const Upsc& said) {
            return said.error.find("Data stale") != std::string::npos;
        });
    }

    std::string Socket(const std::string& ups = "ups-nut") const { return nut_dir + "/smdhost-" + ups; }
};

// The scenario's steps, each held for four polls so that upsc sees each, with
// the battery's voltage across the range of a charge told from 42 V to 56 V,
// and past both ends.
inline const char* const kWalk = R"({"steps": [
    {"name": "on line, above full", "polls": 4, "values": {"DVBT": 57.2}},
    {"name": "mains fails", "polls": 4, "flags": {"SUF": 1, "SBM": 1},
     "values": {"DVIA": 0, "DVIB": 0, "DVIC": 0, "DVBT": 49}},
    {"name": "low battery, below empty", "polls": 4, "flags": {"SBL": 1}, "values": {"DVBT": 41.5}},
    {"name": "mains back", "polls": 4, "flags": {"SUF": 0, "SBM": 0, "SBL": 0},
     "values": {"DVIA": 230.5, "DVIB": 229.8, "DVIC": 231.1, "DVBT": 53.8}},
    {"name": "bypass", "polls": 4, "flags": {"SBP": 1}},
    {"name": "UPS fault", "polls": 4, "flags": {"SOK": 1}},
    {"name": "all clear", "polls": 4, "flags": {"SOK": 0, "SBP": 0}, "values": {"DVBT": 54.6}}]})";

// The status words of the walk's steps, in order.
inline const std::vector<std::string> kWalkStatuses = {"OL", "OB", "OB LB", "OL", "OL BYPASS",
                                                       "OL BYPASS ALARM", "OL"};

}  // namespace e2e
