#pragma once
// The simulated unit on the network: listens on a loopback TCP port, serves
// every connection as a session of its own on a thread of its own, logs each
// received frame in hex, and spoils replies on demand (Faults.h).
//
// Typical use in a test:
//   pabxsim::Simulator sim(scenario);     // or {scenario, options}
//   sim.Start();                          // binds 127.0.0.1, port 0 by default
//   connect to 127.0.0.1:sim.Port() ...
//   sim.Stop();                           // also done by the destructor
//
// Start, Stop and the destructor belong to the owner's thread; AddFault,
// ClearFaults, unit() and the counters may be used from any thread.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "tools/pabx-sim/Faults.h"
#include "tools/pabx-sim/Frame.h"
#include "tools/pabx-sim/Scenario.h"
#include "tools/pabx-sim/Unit.h"

namespace pabxsim {

struct SimulatorOptions {
    std::string bindAddress = "127.0.0.1";  // any address of the loopback range
    uint16_t port = 0;                      // 0: the system picks one (see Port())
    std::filesystem::path framesLog;        // empty: no log
    bool controlPort = false;               // open a text control port (README.md)
    uint16_t controlPortNumber = 0;
    bool keepFrames = false;  // keep received frames for ReceivedFrames()
};

class Simulator final {
  public:
    explicit Simulator(const Scenario& scenario, SimulatorOptions options = {});
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds and starts serving. Throws std::system_error when the port cannot
    // be opened, std::invalid_argument for a bad fault rule of the scenario.
    void Start();
    // Closes the listener and every session and joins their threads. Idempotent.
    void Stop();

    uint16_t Port() const { return port_; }
    uint16_t ControlPort() const { return controlPort_; }

    // Throws std::invalid_argument for a rule that does not parse.
    void AddFault(const std::string& rule);
    void ClearFaults();

    Unit& unit() { return unit_; }
    int SessionsAccepted() const { return sessionsAccepted_.load(); }
    // Every frame received so far, in arrival order (only with keepFrames).
    std::vector<Bytes> ReceivedFrames() const;
    int FramesReceived() const { return framesReceived_.load(); }

  private:
    struct Connection {
        int fd = -1;
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void AcceptLoop(int listenFd, bool control);
    void Serve(Connection& c);
    void ServeControl(Connection& c);
    // Sends the replies of one request, spoiled by `fault` when given.
    // False when the connection is to be closed.
    bool Reply(int fd, Session& session, const Request& r, const std::vector<Bytes>& replies,
               const std::optional<Fault>& fault);
    bool SendAll(int fd, const uint8_t* p, size_t n);
    // Sleeps up to `ms`; false when the simulator is stopping.
    bool Pause(int ms);
    void LogFrame(const Bytes& frame);
    void Reap(bool all);

    Unit unit_;
    SimulatorOptions options_;
    std::vector<std::string> scenarioFaults_;
    FaultTable faults_;

    int listenFd_ = -1;
    int controlFd_ = -1;
    int wakeFd_ = -1;  // eventfd: readable once Stop() began; every wait polls it
    uint16_t port_ = 0;
    uint16_t controlPort_ = 0;
    std::atomic<bool> stopping_{false};
    bool started_ = false;
    std::thread acceptThread_;
    std::thread controlThread_;

    std::mutex connectionsMutex_;  // guards connections_
    std::list<std::unique_ptr<Connection>> connections_;

    mutable std::mutex logMutex_;  // guards log_ and frames_
    std::ofstream log_;
    std::vector<Bytes> frames_;

    std::atomic<int> sessionsAccepted_{0};
    std::atomic<int> framesReceived_{0};
};

}  // namespace pabxsim
