// The driver socket in a folder as NUT keeps it: the folder rules for NUT's
// group, the NUT user's way to the socket, a socket made without a link
// swapped in changing another file, who keeps a place on a full socket, data
// that goes stale when the cycles stop, and upsd's dump before any change.
#include <gtest/gtest.h>
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
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/ProcessName.h"
#include "tools/nut/Account.h"
#include "tools/nut/Room.h"
#include "tools/nut/Server.h"
#include "tools/nut/SocketFile.h"
#include "tools/nut/StaleTimer.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A folder of its own in /tmp, which every user may pass through.
class NutFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        char name[] = "/tmp/nut-socket-XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir = name;
        ::chmod(dir.c_str(), 0755);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string dir;
};

mode_t ModeOf(const std::string& path)
{
    struct stat st {};
    ::lstat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// ---- The folder's rules ------------------------------------------------------------------------

TEST_F(NutFolder, FolderItsGroupMayWriteToIsAcceptedOnlyWhenThatIsTheTrustedGroup)
{
    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    safe_file::Folder folder;
    safe_file::Error error;
    safe_file::FolderRules rules;
    EXPECT_FALSE(folder.Open(dir, rules, error));
    EXPECT_NE(error.text.find(": group " + safe_file::GroupName(::getegid()) +
                              " can write to it (mode 0770, no sticky bit)"),
              std::string::npos)
        << error.text;
    rules.writer_group = ::getegid();
    EXPECT_TRUE(folder.Open(dir, rules, error)) << error.text;
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    EXPECT_FALSE(folder.Open(dir, rules, error));
    EXPECT_NE(error.text.find("others can write to it (mode 0777"), std::string::npos) << error.text;
}

TEST_F(NutFolder, FolderMadeForNutGetsTheGroupAndModeWhateverTheUmask)
{
    safe_file::FolderRules rules;
    rules.create = true;
    rules.create_group = ::getegid();
    rules.create_mode = 0770;
    rules.writer_group = ::getegid();
    const mode_t umask = ::umask(077);
    safe_file::Folder folder;
    safe_file::Error error;
    const bool opened = folder.Open(dir + "/a/nut", rules, error);
    ::umask(umask);
    ASSERT_TRUE(opened) << error.text;
    struct stat st {};
    ASSERT_EQ(::stat((dir + "/a/nut").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0770u);
    EXPECT_EQ(st.st_gid, ::getegid());
}

// ---- The NUT user's way to the socket ----------------------------------------------------------

TEST_F(NutFolder, NutUserWhoCannotReachTheSocketIsToldTheFix)
{
    const passwd* user = ::getpwnam("nobody");
    if (user == nullptr || user->pw_uid == ::geteuid()) {
        GTEST_SKIP() << "no user nobody other than this one";
    }
    const nut::Account nobody{"nobody", "nogroup"};
    safe_file::Folder folder;
    safe_file::Error error;
    ASSERT_TRUE(folder.Open(dir, {}, error)) << error.text;
    nut::SocketFile socket;
    ASSERT_EQ(socket.Make(folder, "smdhost-ups", error), nut::SocketFile::Made::Fresh) << error.text;

    EXPECT_NE(nut::ReachProblem(socket.Path(), nobody)
                  .find("user nobody may not connect to it (mode 0660, user " +
                        safe_file::UserName(::geteuid())),
              std::string::npos)
        << nut::ReachProblem(socket.Path(), nobody);
    EXPECT_NE(nut::ReachProblem(socket.Path(), nobody).find("(chgrp nogroup " + dir + ")"),
              std::string::npos);
    ASSERT_EQ(::chmod(dir.c_str(), 0700), 0);
    EXPECT_NE(nut::ReachProblem(socket.Path(), nobody).find("user nobody may not enter the folder " + dir),
              std::string::npos)
        << nut::ReachProblem(socket.Path(), nobody);
    EXPECT_EQ(nut::ReachProblem(socket.Path(), {safe_file::UserName(::geteuid()), "nut"}), "");
    EXPECT_NE(nut::ReachProblem(socket.Path(), {"no-such-user-x", "nut"}).find("there is no user"),
              std::string::npos);
}

// ---- The socket's making -------------------------------------------------------------------------

TEST_F(NutFolder, SocketGetsItsModeBeforeItIsNamedWhateverTheUmask)
{
    safe_file::Folder folder;
    safe_file::Error error;
    ASSERT_TRUE(folder.Open(dir, {}, error));
    mode_t seen = 0;
    nut::SocketFile socket([&] {
        for (const auto& entry : fs::directory_iterator(dir)) {
            seen = fs::is_directory(entry) ? ModeOf(entry.path().string() + "/smdhost-ups") : seen;
        }
    });
    const mode_t umask = ::umask(077);
    const auto made = socket.Make(folder, "smdhost-ups", error);
    ::umask(umask);
    ASSERT_EQ(made, nut::SocketFile::Made::Fresh) << error.text;
    EXPECT_EQ(seen, 0660u) << "the mode is set where only this user can reach it";
    EXPECT_EQ(ModeOf(dir + "/smdhost-ups"), 0660u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "the folder it was made in is gone";
}

TEST_F(NutFolder, LinkPlantedWhereTheSocketWillBeNeverHasItsTargetChanged)
{
    const std::string target = dir + "-target";
    std::ofstream(target) << "secret";
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    safe_file::Folder folder;
    safe_file::Error error;
    ASSERT_TRUE(folder.Open(dir, {}, error));
    nut::SocketFile socket([&] { fs::create_symlink(target, dir + "/smdhost-ups"); });
    EXPECT_EQ(socket.Make(folder, "smdhost-ups", error), nut::SocketFile::Made::Refused);
    EXPECT_NE(error.text.find("another process put a file there while the socket was made"),
              std::string::npos)
        << error.text;
    EXPECT_EQ(ModeOf(target), 0600u);
    EXPECT_TRUE(fs::is_symlink(dir + "/smdhost-ups")) << "what another put there stays as it was";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    fs::remove(target);
}

// ---- A full socket ---------------------------------------------------------------------------------

TEST(NutRoom, UpsdAlwaysGetsInAndOthersOnlyInPlaceOfOthersThatNeverAsked)
{
    using Kind = nut::Placement::Kind;
    const nut::Seat upsd{true, true};
    const nut::Seat asked{false, true};
    const nut::Seat idle{false, false};
    const struct {
        const char* what;
        std::vector<nut::Seat> seats;
        bool newcomer_upsd;
        Kind kind;
        std::size_t seat;
    } kCases[] = {
        {"room left", {asked, idle}, false, Kind::Free, 0},
        {"another takes the oldest idle one", {asked, upsd, idle, idle}, false, Kind::Replace, 2},
        {"another finds none idle", {asked, upsd, asked, asked}, false, Kind::Refuse, 0},
        {"upsd takes the oldest idle one", {asked, idle, upsd, idle}, true, Kind::Replace, 1},
        {"upsd takes the oldest of the crowd that asks and reads", {upsd, asked, asked, asked}, true, Kind::Replace, 1},
        {"upsd's connections are upsd's own to replace", {upsd, {true, false}, upsd, upsd}, true, Kind::Replace, 1},
        {"all upsd's and all asked", {upsd, upsd, upsd, upsd}, true, Kind::Refuse, 0},
    };
    for (const auto& c : kCases) {
        const nut::Placement placement = nut::Place(c.seats, c.newcomer_upsd, 4);
        EXPECT_EQ(placement.kind, c.kind) << c.what;
        if (c.kind == Kind::Replace) {
            EXPECT_EQ(placement.seat, c.seat) << c.what;
        }
    }
}

// ---- Stale on time --------------------------------------------------------------------------------

TEST(NutStale, TimerRunsOutOnceAfterTheLastCompletedCycleAndOnlyWhileCyclesAreAwaited)
{
    const auto t0 = nut::StaleTimer::Clock::time_point() + 1h;
    nut::StaleTimer timer(7000ms);
    EXPECT_FALSE(timer.Left(t0)) << "stale from the start: nothing to await";
    EXPECT_FALSE(timer.Expired(t0 + 1h));
    timer.Completed(t0);
    EXPECT_EQ(timer.Left(t0 + 2s), std::optional<nut::StaleTimer::Clock::duration>(5s));
    EXPECT_FALSE(timer.Expired(t0 + 6999ms));
    timer.Completed(t0 + 5s);
    EXPECT_FALSE(timer.Expired(t0 + 7s)) << "each completed cycle starts it again";
    EXPECT_TRUE(timer.Expired(t0 + 12s));
    EXPECT_FALSE(timer.Expired(t0 + 13s)) << "once";
    EXPECT_FALSE(timer.Left(t0 + 13s));
    nut::StaleTimer never(0ms);
    never.Completed(t0);
    EXPECT_FALSE(never.Left(t0));
    EXPECT_EQ(nut::StaleAfter(40s, 3s), 83s) << "two poll intervals and the answer timeout";
}

// A client of the socket at `path` that reads what comes.
class Client {
public:
    explicit Client(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof(address.sun_path) - 1);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~Client() { ::close(fd_); }
    bool Connected() const { return connected_; }
    void Send(const std::string& text) { (void)!::send(fd_, text.data(), text.size(), MSG_NOSIGNAL); }
    // What came until `until` is in it (20 s at most).
    std::string ReadUntil(const std::string& until)
    {
        for (int waited = 0; got_.find(until) == std::string::npos && waited < 200; ++waited) {
            pollfd in{fd_, POLLIN, 0};
            char bytes[4096];
            const ssize_t n = ::poll(&in, 1, 100) > 0 ? ::recv(fd_, bytes, sizeof(bytes), 0) : 0;
            got_.append(bytes, n > 0 ? static_cast<std::size_t>(n) : 0);
        }
        return got_;
    }

private:
    int fd_;
    bool connected_ = false;
    std::string got_;
};

TEST_F(NutFolder, UpsWithoutCompletedCyclesGoesStaleOnItsTimerWithoutBeingTold)
{
    nut::Server server({{"ups", {{"device.type", "ups"}}, 50ms}});
    const nut::Server::Opened opened = server.Open(dir, {});
    ASSERT_TRUE(opened.ok) << opened.error;
    ASSERT_EQ(opened.sockets, std::vector<std::string>{dir + "/smdhost-ups"});
    server.Start();
    Client client(opened.sockets.front());
    ASSERT_TRUE(client.Connected());
    client.Send("DUMPALL\n");
    EXPECT_NE(client.ReadUntil("DUMPDONE\n").find("DATASTALE\n"), std::string::npos);
    server.Publish(0, {{"device.type", "ups"}, {"ups.status", "OL"}}, true);
    const std::string got = client.ReadUntil("DATAOK\nDATASTALE\n");
    EXPECT_NE(got.find("SETINFO ups.status \"OL\"\nDATAOK\nDATASTALE\n"), std::string::npos) << got;
}

}  // namespace

namespace {

// What the server told of upsd's connections, from its thread.
class UpsdWatch {
public:
    void Take(const nut::Server::Upsd& upsd)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        told_.push_back(upsd);
    }
    // What was told once `count` things were (20 s at most).
    std::vector<nut::Server::Upsd> Until(std::size_t count)
    {
        for (int waited = 0; waited < 2000; ++waited) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (told_.size() >= count) {
                    return told_;
                }
            }
            std::this_thread::sleep_for(10ms);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        return told_;
    }

private:
    std::mutex mutex_;
    std::vector<nut::Server::Upsd> told_;
};

}  // namespace

TEST_F(NutFolder, UpsdGetsItsDumpBeforeAnyChangeAndItsComingAndGoingIsTold)
{
    const nut::Variables fixed = {{"device.type", "ups"}, {"ups.model", "Rack 7"}};
    nut::Server server({{"ups", fixed}}, ::geteuid());
    UpsdWatch watch;
    server.WatchUpsd([&watch](const nut::Server::Upsd& upsd) { watch.Take(upsd); });
    const nut::Server::Opened opened = server.Open(dir, {});
    ASSERT_TRUE(opened.ok) << opened.error;
    server.Start();
    {
        Client upsd(opened.sockets.front());
        ASSERT_EQ(watch.Until(1).size(), 1u);
        nut::Variables live = fixed;
        live["ups.status"] = "OL";
        server.Publish(0, live, true);  // a change before upsd has asked for anything
        upsd.Send("DUMPALL\n");
        EXPECT_EQ(upsd.ReadUntil("DUMPDONE\n"),
                  "SETINFO device.type \"ups\"\nSETINFO ups.model \"Rack 7\"\n"
                  "SETINFO ups.status \"OL\"\nDATAOK\nDUMPDONE\n")
            << "upsd must not take the data for usable before it has all of it";
    }
    const std::vector<nut::Server::Upsd> told = watch.Until(2);
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(told[0].connected);
    EXPECT_FALSE(told[1].connected);
    // The peer is named as the system names it (under an emulator, the emulator).
    EXPECT_EQ(told[0].process, process_name::Described(::getpid()));
}
