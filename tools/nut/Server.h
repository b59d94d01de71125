#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tools/common/SafeFile.h"
#include "tools/nut/SocketFile.h"
#include "tools/nut/StaleTimer.h"
#include "tools/nut/State.h"

// The driver side of Network UPS Tools' driver/server socket protocol, for
// several UPSes at once: each UPS has a Unix socket that upsd (or any local
// client) connects to. A connection may ask for everything (DUMPALL, answered
// with DUMPDONE at its end), PING (PONG), NOBROADCAST and BROADCAST; every
// change of a UPS's state is pushed at once to its connections that take
// broadcasts, once they have sent a request (upsd's first is DUMPALL, whose
// answer must come before any change). Instant commands and SET are refused: this UPS has neither.
// A UPS whose cycles stop completing goes stale on a timer of its own.
//
// One thread of its own serves the sockets with poll(2); the device threads
// only update the state and leave the lines of the change for that thread,
// never touching a connection or waiting on a client. A client
// that sends an overlong line, or reads so little that its queue passes a
// bound, is dropped; an unknown command or a line that cannot be read is
// passed over.
namespace nut {

class Server {
public:
    struct Ups {
        std::string name;  // upsd's name of the UPS: the socket is smdhost-<name>
        Variables fixed;   // what it shows before its first block
        // Stale when no cycle has completed for this long (StaleAfter); 0: only
        // when marked so.
        std::chrono::milliseconds stale_after{0};
    };

    // A line longer than this without its newline ends the connection.
    static constexpr std::size_t kLineLimit = 4096;
    // Bytes queued for a client that does not read, before it is dropped.
    static constexpr std::size_t kQueueLimit = 256 * 1024;
    // Connections at once to one UPS's socket. When they are all taken, one
    // from upsd's user takes the place of another user's, and one from
    // another user only the place of another user's that never asked for
    // everything (DUMPALL); see Room.h. Neither a crowd of idle connections
    // nor one that asks and keeps reading can lock upsd out.
    static constexpr std::size_t kConnectionLimit = 16;

    // `upsd_user`: the user upsd runs as (UserId of the NUT user); without it
    // every connection is another user's.
    explicit Server(std::vector<Ups> upses, std::optional<uid_t> upsd_user = std::nullopt);

    // A connection from upsd's user that came, or went (it closed, or was
    // dropped); not told when the server stops.
    struct Upsd {
        std::size_t ups = 0;
        bool connected = true;
        std::string process;  // "upsd (pid 4242)", as it was when it connected
    };
    // Called on the server's own thread; given before Start.
    void WatchUpsd(std::function<void(const Upsd&)> watch) { watch_ = std::move(watch); }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server();

    struct Opened {
        bool ok = false;
        std::string error;
        std::vector<std::pair<std::size_t, std::string>> warnings;  // by UPS: a leftover removed
        std::vector<std::string> sockets;  // by UPS: the socket's path (ReachProblem)
    };
    // Makes every UPS's socket in `folder` under the file rules.
    Opened Open(const std::string& folder, const safe_file::FolderRules& rules);

    // Serves the sockets on a thread of its own until Stop.
    void Start();
    // Ends the thread, closes every connection and removes the sockets.
    void Stop();

    // From the device threads. A UPS takes `variables` (only the changes are
    // sent); `live` (a completed poll cycle) makes its data usable (DATAOK).
    void Publish(std::size_t ups, const Variables& variables, bool live);
    // The UPS's data is no longer usable (DATASTALE), at once: a port gone, or
    // failed cycles.
    void MarkStale(std::size_t ups);

private:
    struct Connection;

    void Serve();
    void Accept(std::size_t ups);
    bool MakeRoom(std::size_t ups, bool upsd);
    void Tell(const Connection& connection, bool connected) const;
    int StaleTimeout();
    void CheckStale();
    bool Receive(Connection& connection);
    void Answer(Connection& connection, const std::vector<std::string>& words,
                const std::string& dump);
    void HandOut(std::vector<std::string>& pending);
    void Send();
    void Wake();

    // Shared with the device threads, under the mutex: each UPS's state and
    // the lines of its changes not yet handed to its connections. The server
    // thread holds the mutex only to take these, never while it reads,
    // answers or writes.
    std::mutex mutex_;
    std::vector<UpsState> states_;
    std::vector<StaleTimer> timers_;
    std::vector<std::string> pending_;

    // The server thread's alone.
    std::vector<std::string> names_;
    std::optional<uid_t> upsd_user_;
    std::function<void(const Upsd&)> watch_;
    safe_file::Folder folder_;
    std::vector<std::unique_ptr<SocketFile>> sockets_;
    std::vector<std::unique_ptr<Connection>> connections_;
    int wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace nut
