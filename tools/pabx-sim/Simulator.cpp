#include "tools/pabx-sim/Simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace pabxsim {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int OpenListener(const std::string& address, uint16_t port, uint16_t& boundPort) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
        throw std::system_error(EINVAL, std::generic_category(), "bad bind address " + address);
    }
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) ThrowErrno("socket");
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 32) != 0) {
        int e = errno;
        close(fd);
        throw std::system_error(e, std::generic_category(),
                                "cannot listen on " + address + ":" + std::to_string(port));
    }
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    boundPort = ntohs(sa.sin_port);
    return fd;
}

// Bytes that are never a start byte, so a client must skip all of them.
Bytes Junk(size_t n) {
    static const uint8_t kPattern[] = {0x00, 0xFF, 0xAA, 0x13, 0x54, 0x56, 0x80, 0x03, 0x06};
    Bytes b;
    for (size_t i = 0; i < n; ++i) b.push_back(kPattern[i % sizeof kPattern]);
    return b;
}

// The frame grown to the largest length a 16-bit L can state, zeros behind
// its own data, with its word count following suit.
Bytes Oversized(Bytes f) {
    f.resize(kMaxFrame, 0);
    PutU16(f, 1, 0xFFFF);
    uint16_t kind = GetU16(f, 3);
    size_t countAt = kind == kKindProg ? 13 : 11;
    size_t dataAt = countAt + 2;
    PutU16(f, countAt,
           static_cast<uint16_t>(std::min<size_t>((f.size() - dataAt + 1) / 2, 0xFFFF)));
    return f;
}

// A PROG reply naming the next block: the data (or acknowledgement) of a
// block other than the one asked for. CTRL frames are left as they are.
Bytes OtherBlock(Bytes f) {
    if (f.size() >= 15 && GetU16(f, 3) == kKindProg)
        PutU16(f, 9, static_cast<uint16_t>(GetU16(f, 9) + 1));
    return f;
}

// A data reply whose data is cut to `keep` bytes, its L and word count
// telling the truth about what is left.
Bytes CutData(Bytes f, size_t keep) {
    const bool prog = f.size() >= 15 && GetU16(f, 3) == kKindProg;
    const size_t dataAt = prog ? 15 : 13;
    if (f.size() < dataAt || f.size() - dataAt <= keep) return f;
    f.resize(dataAt + keep);
    PutU16(f, 1, static_cast<uint16_t>(f.size() - 3));
    PutU16(f, dataAt - 2, static_cast<uint16_t>((keep + 1) / 2));
    return f;
}

Bytes BadXml(const Bytes& f) {
    if (f.size() < 23 || GetU16(f, 3) != kKindCtrl || GetU16(f, 5) != kCtrlXml) return f;
    std::string text(f.begin() + 13, f.end() - 10);
    text = text.substr(0, text.size() / 2) + "<</";
    return XmlReplyFrame(GetU16(f, 9), text);
}

}  // namespace

Simulator::Simulator(const Scenario& scenario, SimulatorOptions options)
    : unit_(scenario), options_(std::move(options)), scenarioFaults_(scenario.faults) {}

Simulator::~Simulator() { Stop(); }

void Simulator::AddFault(const std::string& rule) { faults_.Add(ParseFaultRule(rule)); }

void Simulator::ClearFaults() { faults_.Clear(); }

void Simulator::Start() {
    if (started_) return;
    stopping_ = false;
    for (const auto& rule : scenarioFaults_) AddFault(rule);
    if (!options_.framesLog.empty()) {
        log_.open(options_.framesLog, std::ios::app);
        if (!log_)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot open " + options_.framesLog.string());
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (wakeFd_ < 0) ThrowErrno("eventfd");
    try {
        listenFd_ = OpenListener(options_.bindAddress, options_.port, port_);
        if (options_.controlPort)
            controlFd_ =
                OpenListener(options_.bindAddress, options_.controlPortNumber, controlPort_);
    } catch (...) {
        if (listenFd_ >= 0) close(listenFd_);
        close(wakeFd_);
        listenFd_ = wakeFd_ = -1;
        throw;
    }
    started_ = true;
    acceptThread_ = std::thread([this] { AcceptLoop(listenFd_, false); });
    if (controlFd_ >= 0) controlThread_ = std::thread([this] { AcceptLoop(controlFd_, true); });
}

void Simulator::Stop() {
    if (!started_) return;
    stopping_ = true;
    uint64_t one = 1;
    (void)!write(wakeFd_, &one, sizeof one);
    if (acceptThread_.joinable()) acceptThread_.join();
    if (controlThread_.joinable()) controlThread_.join();
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto& c : connections_) shutdown(c->fd, SHUT_RDWR);
    }
    Reap(true);
    close(listenFd_);
    if (controlFd_ >= 0) close(controlFd_);
    close(wakeFd_);
    listenFd_ = controlFd_ = wakeFd_ = -1;
    {
        std::lock_guard lock(logMutex_);
        if (log_.is_open()) log_.close();
    }
    started_ = false;
}

void Simulator::Reap(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard lock(connectionsMutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The thread owns its descriptor until it is joined; closing only then keeps
    // a recycled descriptor number from being shut down by mistake.
    for (auto& c : finished) {
        if (c->thread.joinable()) c->thread.join();
        close(c->fd);
    }
}

void Simulator::AcceptLoop(int listenFd, bool control) {
    while (!stopping_) {
        pollfd p[2] = {{listenFd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents) break;
        if (!(p[0].revents & POLLIN)) continue;
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (!control) Reap(false);
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection& ref = *c;
        std::lock_guard lock(connectionsMutex_);
        connections_.push_back(std::move(c));
        if (!control) ++sessionsAccepted_;
        ref.thread = std::thread([this, &ref, control] {
            if (control)
                ServeControl(ref);
            else
                Serve(ref);
            ref.done = true;
        });
    }
}

bool Simulator::Pause(int ms) {
    pollfd p{wakeFd_, POLLIN, 0};
    return poll(&p, 1, ms) == 0;
}

bool Simulator::SendAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
        if (k < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

void Simulator::LogFrame(const Bytes& frame) {
    ++framesReceived_;
    std::lock_guard lock(logMutex_);
    if (options_.keepFrames) frames_.push_back(frame);
    if (!log_.is_open()) return;
    log_ << Hex(frame) << '\n';
    log_.flush();
}

std::vector<Bytes> Simulator::ReceivedFrames() const {
    std::lock_guard lock(logMutex_);
    return frames_;
}

void Simulator::Serve(Connection& c) {
    Session session(unit_);
    FrameReader reader;
    std::vector<uint8_t> buf(65536);
    std::vector<Bytes> frames;
    while (!stopping_) {
        pollfd p[2] = {{c.fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        ssize_t n = recv(c.fd, buf.data(), buf.size(), 0);
        if (n <= 0) return;
        frames.clear();
        reader.Feed(buf.data(), static_cast<size_t>(n), frames);
        for (const auto& frame : frames) {
            LogFrame(frame);
            Request r = ParseRequest(frame);
            if (!session.Answers(r)) continue;
            auto fault = faults_.Decide(Session::Names(r));
            if (fault && fault->action == FaultAction::Drop) {
                shutdown(c.fd, SHUT_RDWR);
                return;
            }
            std::vector<Bytes> replies;
            if (fault && fault->action == FaultAction::Refuse) {
                replies = {session.Refusal(r, static_cast<uint16_t>(fault->arg ? fault->arg : 4))};
            } else {
                replies = session.Handle(r);
            }
            if (!Reply(c.fd, session, r, replies, fault)) {
                shutdown(c.fd, SHUT_RDWR);
                return;
            }
        }
    }
}

bool Simulator::Reply(int fd, Session& session, const Request& r, const std::vector<Bytes>& replies,
                      const std::optional<Fault>& fault) {
    std::vector<Bytes> out = replies;
    FaultAction action = fault ? fault->action : FaultAction::Refuse;  // Refuse: already applied
    switch (action) {
        case FaultAction::NoReply: return true;
        case FaultAction::Delay:
            if (!Pause(fault->arg)) return false;
            break;
        case FaultAction::WrongAck: out = {session.WrongAck(r)}; break;
        case FaultAction::BadXml:
            if (!out.empty()) out[0] = BadXml(out[0]);
            break;
        case FaultAction::Oversize:
            if (!out.empty()) out[0] = Oversized(out[0]);
            break;
        case FaultAction::WrongBlock:
            for (auto& f : out) f = OtherBlock(f);
            break;
        case FaultAction::Cut:
            for (auto& f : out) f = CutData(f, static_cast<size_t>(fault->arg));
            break;
        case FaultAction::Short:
            // Half of the first frame and nothing else: the client is left inside a frame.
            if (out.empty()) return true;
            out[0].resize(std::max<size_t>(1, out[0].size() / 2));
            out.resize(1);
            break;
        case FaultAction::Malformed:
            // L says 2: a frame that ends before its command is complete, the rest
            // of the reply trailing behind it.
            if (!out.empty()) PutU16(out[0], 1, 2);
            break;
        case FaultAction::Junk: {
            if (out.empty()) break;
            Bytes j = Junk(fault->arg ? static_cast<size_t>(fault->arg) : 9);
            out[0].insert(out[0].begin(), j.begin(), j.end());
            break;
        }
        default: break;
    }
    Bytes all;
    for (const auto& f : out) all.insert(all.end(), f.begin(), f.end());
    if (action == FaultAction::Split) {
        size_t chunk = fault->arg > 0 ? static_cast<size_t>(fault->arg) : 1;
        for (size_t at = 0; at < all.size(); at += chunk) {
            if (!SendAll(fd, all.data() + at, std::min(chunk, all.size() - at))) return false;
            if (at + chunk < all.size() && !Pause(2)) return false;
        }
        return true;
    }
    return SendAll(fd, all.data(), all.size());
}

void Simulator::ServeControl(Connection& c) {
    std::string pending;
    char buf[1024];
    auto answer = [&](const std::string& s) {
        return SendAll(c.fd, reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    while (!stopping_) {
        pollfd p[2] = {{c.fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        pending.append(buf, static_cast<size_t>(n));
        for (size_t nl; (nl = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::istringstream in(line);
            std::string cmd;
            in >> cmd;
            std::string reply = "OK\n";
            try {
                if (cmd == "fault") {
                    std::string rule;
                    std::getline(in, rule);
                    AddFault(rule);
                } else if (cmd == "clear") {
                    ClearFaults();
                } else if (cmd == "sdcard") {
                    int64_t total = 0, free = 0, used = 0;
                    if (!(in >> total >> free >> used))
                        throw std::invalid_argument("sdcard <total> <free> <used>");
                    unit_.SetSdCard(total, free, used);
                } else if (cmd == "ext") {
                    reply = "OK " + unit_.DescribeExtensions() + "\n";
                } else if (cmd == "stats") {
                    reply = "OK sessions=" + std::to_string(SessionsAccepted()) +
                            " frames=" + std::to_string(FramesReceived()) + "\n";
                } else if (cmd == "quit") {
                    answer(reply);
                    return;
                } else if (!cmd.empty()) {
                    throw std::invalid_argument("unknown command: " + cmd);
                } else {
                    continue;
                }
            } catch (const std::exception& e) {
                reply = std::string("ERROR ") + e.what() + "\n";
            }
            if (!answer(reply)) return;
        }
    }
}

}  // namespace pabxsim
