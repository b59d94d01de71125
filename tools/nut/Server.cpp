#include "tools/nut/Server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tools/common/Diagnostics.h"
#include "tools/common/ProcessName.h"
#include "tools/nut/Mapping.h"
#include "tools/nut/Room.h"
#include "tools/nut/Words.h"

namespace nut {

namespace {

constexpr std::size_t kReadChunk = 4096;
// The longest socket path a client can reach (sockaddr_un's room).
constexpr std::size_t kLongestSocketPath = 107;
// The driver's answer to a request it has no handler for: "unknown".
constexpr const char* kUnknownRequest = "1";
// The pause after poll(2) failed other than by a signal (ENOMEM): going
// straight round would spin on a core while the failure lasts.
constexpr std::chrono::milliseconds kPollRetry{100};

// Waits out a failed poll; a signal goes round at once. The failure is told
// once a spell: `told` stays set until a poll succeeds.
void PollFailed(int error, bool& told)
{
    if (error == EINTR) {
        return;
    }
    if (!told) {
        diagnostics::Warning(std::string("NUT server: poll failed: ") + std::strerror(error) +
                             "; trying again every " + std::to_string(kPollRetry.count()) + " ms");
        told = true;
    }
    std::this_thread::sleep_for(kPollRetry);
}

// The id after TRACKING in a request, or "".
std::string TrackingId(const std::vector<std::string>& words)
{
    const auto tracking = std::find(words.begin(), words.end(), "TRACKING");
    return tracking != words.end() && tracking + 1 != words.end() ? *(tracking + 1) : "";
}

// The process at the other end of `fd`, when it runs as `user`.
std::optional<pid_t> PeerAs(int fd, const std::optional<uid_t>& user)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (!user || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != *user) {
        return std::nullopt;
    }
    return peer.pid;
}

}  // namespace

struct Server::Connection {
    int fd = -1;
    std::size_t ups = 0;
    std::string in;
    std::string out;
    bool broadcast = true;
    // Has sent a request: until then it takes no broadcasts, so that the
    // dump upsd asks for first reaches it before any change, and upsd never
    // takes the data for usable (DATAOK) while it has only the changes.
    bool spoke = false;
    bool dumped = false;  // asked for everything, as upsd does first
    bool upsd = false;    // from the user upsd runs as
    std::string process;  // who, when from upsd's user
    bool drop = false;
};

Server::Server(std::vector<Ups> upses, std::optional<uid_t> upsd_user)
    : upsd_user_(upsd_user), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    for (Ups& ups : upses) {
        names_.push_back(ups.name);
        states_.emplace_back(std::move(ups.fixed));
        timers_.emplace_back(ups.stale_after);
    }
    pending_.resize(states_.size());
}

Server::~Server()
{
    Stop();
    if (wake_ >= 0) {
        ::close(wake_);
    }
}

Server::Opened Server::Open(const std::string& folder, const safe_file::FolderRules& rules)
{
    Opened opened;
    safe_file::Error error;
    if (!folder_.Open(folder, rules, error)) {
        opened.error = "NUT folder: " + error.text;
        return opened;
    }
    for (std::size_t ups = 0; ups < names_.size(); ++ups) {
        const std::string name = SocketName(names_[ups]);
        if (folder_.PathOf(name).size() > kLongestSocketPath) {
            opened.error = "the socket " + folder_.PathOf(name) + " would be " +
                           std::to_string(folder_.PathOf(name).size()) +
                           " bytes long; upsd reaches " + std::to_string(kLongestSocketPath) +
                           " at most: choose a shorter folder or device name";
            return opened;
        }
        auto socket = std::make_unique<SocketFile>();
        const SocketFile::Made made = socket->Make(folder_, name, error);
        if (made == SocketFile::Made::Refused) {
            opened.error = error.text;
            return opened;
        }
        if (made == SocketFile::Made::ReplacedLeftover) {
            opened.warnings.emplace_back(ups, "removed the leftover socket " + socket->Path() +
                                                  " (nobody listened on it)");
        }
        opened.sockets.push_back(socket->Path());
        sockets_.push_back(std::move(socket));
    }
    opened.ok = wake_ >= 0;
    if (!opened.ok) {
        opened.error = "cannot make the NUT server's wake-up descriptor";
    }
    return opened;
}

void Server::Start()
{
    if (!thread_.joinable()) {
        thread_ = std::thread([this] { Serve(); });
    }
}

void Server::Stop()
{
    stopping_ = true;
    Wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    for (const auto& connection : connections_) {
        ::close(connection->fd);
    }
    connections_.clear();
    for (const auto& socket : sockets_) {
        socket->Remove();
    }
}

void Server::Wake()
{
    const std::uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof(one));
}

void Server::Publish(std::size_t ups, const Variables& variables, bool live)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_[ups] += states_[ups].Change(variables);
        if (live) {
            pending_[ups] += states_[ups].Ok();
            timers_[ups].Completed(StaleTimer::Clock::now());
        }
    }
    Wake();
}

void Server::MarkStale(std::size_t ups)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_[ups] += states_[ups].Stale();
    }
    Wake();
}

namespace {

// Queues `lines` for a client; one that has more waiting than the bound is
// not reading, and is dropped.
void Queue(bool& drop, std::string& out, const std::string& lines)
{
    if (drop) {
        return;
    }
    if (out.size() + lines.size() > Server::kQueueLimit) {
        drop = true;
        out.clear();
        return;
    }
    out += lines;
}

}  // namespace

// Hands the changes the device threads left to the connections that take
// broadcasts, in the order they were made.
void Server::HandOut(std::vector<std::string>& pending)
{
    for (const auto& connection : connections_) {
        if (connection->broadcast && connection->spoke && !pending[connection->ups].empty()) {
            Queue(connection->drop, connection->out, pending[connection->ups]);
        }
    }
    for (std::string& lines : pending) {
        lines.clear();
    }
}

void Server::Serve()
{
    std::vector<pollfd> polled;
    std::vector<std::string> pending(states_.size());
    bool poll_failure_told = false;
    while (!stopping_) {
        polled.clear();
        polled.push_back({wake_, POLLIN, 0});
        for (const auto& socket : sockets_) {
            polled.push_back({socket->Fd(), POLLIN, 0});
        }
        for (const auto& connection : connections_) {
            const short events = connection->out.empty() ? POLLIN : POLLIN | POLLOUT;
            polled.push_back({connection->fd, events, 0});
        }
        const int timeout = StaleTimeout();
        if (::poll(polled.data(), polled.size(), timeout) < 0) {
            PollFailed(errno, poll_failure_told);
            continue;
        }
        poll_failure_told = false;
        std::uint64_t woken = 0;
        (void)!::read(wake_, &woken, sizeof(woken));
        CheckStale();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending.swap(pending_);
        }
        HandOut(pending);
        const std::size_t first_client = 1 + sockets_.size();
        const std::size_t clients = polled.size() - first_client;
        for (std::size_t i = 0; i < clients; ++i) {
            if ((polled[first_client + i].revents & (POLLIN | POLLHUP | POLLERR)) != 0 &&
                !Receive(*connections_[i])) {
                connections_[i]->drop = true;
            }
        }
        for (std::size_t ups = 0; ups < sockets_.size(); ++ups) {
            if ((polled[1 + ups].revents & POLLIN) != 0) {
                Accept(ups);
            }
        }
        Send();
    }
}

void Server::Accept(std::size_t ups)
{
    for (;;) {
        const int fd = ::accept4(sockets_[ups]->Fd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        const std::optional<pid_t> upsd = PeerAs(fd, upsd_user_);
        if (!MakeRoom(ups, upsd.has_value())) {
            ::close(fd);
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        connection->ups = ups;
        connection->upsd = upsd.has_value();
        if (upsd) {
            connection->process = process_name::Described(*upsd);
            Tell(*connection, true);
        }
        connections_.push_back(std::move(connection));
    }
}

void Server::Tell(const Connection& connection, bool connected) const
{
    if (connection.upsd && watch_) {
        watch_({connection.ups, connected, connection.process});
    }
}

bool Server::MakeRoom(std::size_t ups, bool upsd)
{
    std::vector<Connection*> open;
    std::vector<Seat> seats;
    for (const auto& connection : connections_) {
        if (connection->ups == ups && !connection->drop) {
            open.push_back(connection.get());
            seats.push_back({connection->upsd, connection->dumped});
        }
    }
    const Placement placement = Place(seats, upsd, kConnectionLimit);
    if (placement.kind == Placement::Kind::Replace) {
        open[placement.seat]->drop = true;
    }
    return placement.kind != Placement::Kind::Refuse;
}

// The milliseconds until the first stale timer runs out, rounded up; -1 when
// none runs.
int Server::StaleTimeout()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = StaleTimer::Clock::now();
    std::optional<StaleTimer::Clock::duration> first;
    for (const StaleTimer& timer : timers_) {
        const auto left = timer.Left(now);
        if (left && (!first || *left < *first)) {
            first = left;
        }
    }
    if (!first) {
        return -1;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*first).count();
    return static_cast<int>(std::min<long long>(ms, INT_MAX));
}

// The UPSes whose timers ran out are stale.
void Server::CheckStale()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = StaleTimer::Clock::now();
    for (std::size_t ups = 0; ups < timers_.size(); ++ups) {
        if (timers_[ups].Expired(now)) {
            pending_[ups] += states_[ups].Stale();
        }
    }
}

bool Server::Receive(Connection& connection)
{
    char chunk[kReadChunk];
    const ssize_t got = ::read(connection.fd, chunk, sizeof(chunk));
    if (got < 0) {
        return errno == EAGAIN || errno == EINTR;
    }
    if (got == 0) {
        return false;  // the client went
    }
    connection.in.append(chunk, static_cast<std::size_t>(got));
    std::vector<std::vector<std::string>> requests;
    std::size_t start = 0;
    for (std::size_t end; (end = connection.in.find('\n', start)) != std::string::npos;
         start = end + 1) {
        if (end - start > kLineLimit) {
            return false;
        }
        auto words = SplitWords(std::string_view(connection.in).substr(start, end - start));
        if (words && !words->empty()) {  // a line that cannot be read is passed over
            requests.push_back(std::move(*words));
        }
    }
    connection.in.erase(0, start);
    const bool dumps = std::any_of(requests.begin(), requests.end(),
                                   [](const auto& words) { return words.front() == "DUMPALL"; });
    std::string dump;
    if (dumps) {
        // The changes made before the dump reach the clients before it.
        std::vector<std::string> pending(states_.size());
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pending.swap(pending_);
            dump = states_[connection.ups].Dump();
        }
        HandOut(pending);
    }
    connection.spoke = connection.spoke || !requests.empty();
    for (const auto& words : requests) {
        Answer(connection, words, dump);
    }
    return connection.in.size() <= kLineLimit;
}

void Server::Answer(Connection& connection, const std::vector<std::string>& words,
                    const std::string& dump)
{
    const std::string& command = words.front();
    if (command == "DUMPALL") {
        connection.dumped = true;
        Queue(connection.drop, connection.out, dump);
    } else if (command == "PING") {
        Queue(connection.drop, connection.out, "PONG\n");
    } else if (command == "NOBROADCAST") {
        connection.broadcast = false;
    } else if (command == "BROADCAST") {
        connection.broadcast = words.size() < 2 || std::atoi(words[1].c_str()) > 0;
    } else if (command == "GETPID") {
        Queue(connection.drop, connection.out, "PID " + std::to_string(::getpid()) + "\n");
    } else if (command == "INSTCMD" || command == "SET") {
        const std::string id = TrackingId(words);
        if (!id.empty()) {
            Queue(connection.drop, connection.out,
                  "TRACKING " + Word(id) + " " + kUnknownRequest + "\n");
        }
    }
}

void Server::Send()
{
    for (const auto& connection : connections_) {
        if (connection->drop || connection->out.empty()) {
            continue;
        }
        const ssize_t sent = ::send(connection->fd, connection->out.data(), connection->out.size(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
            connection->out.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
            connection->drop = true;
        }
    }
    const auto dropped = std::remove_if(connections_.begin(), connections_.end(), [this](const auto& c) {
        if (c->drop) {
            ::close(c->fd);
            Tell(*c, false);
        }
        return c->drop;
    });
    connections_.erase(dropped, connections_.end());
}

}  // namespace nut
