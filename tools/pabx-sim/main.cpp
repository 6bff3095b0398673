// pabx-sim: a simulated unit of the Norvika line for tests and trial runs.
//   pabx-sim serve --scenario FILE [--port N] [--bind ADDR] [--store DIR]
//                  [--frames-log FILE] [--control-port N] [--port-file FILE]
//   pabx-sim make-recordings --store DIR --count N [--seed S]
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Scenario.h"
#include "tools/pabx-sim/Simulator.h"

namespace {

int Usage() {
    std::cerr << "usage:\n"
                 "  pabx-sim serve --scenario FILE [--port N] [--bind ADDR] [--store DIR]\n"
                 "                 [--frames-log FILE] [--control-port N] [--port-file FILE]\n"
                 "  pabx-sim make-recordings --store DIR --count N [--seed S]\n";
    return 2;
}

bool ParseOptions(int argc, char** argv, std::map<std::string, std::string>& opts) {
    for (int i = 2; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--", 0) != 0 || i + 1 >= argc) return false;
        opts[a.substr(2)] = argv[++i];
    }
    return true;
}

int Serve(std::map<std::string, std::string>& o) {
    if (!o.count("scenario")) return Usage();
    // Signals are taken by sigwait below, never by a handler on some other thread.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    pabxsim::Scenario scenario = pabxsim::LoadScenario(o["scenario"]);
    if (o.count("store")) scenario.store = o["store"];
    pabxsim::SimulatorOptions opt;
    if (o.count("bind")) opt.bindAddress = o["bind"];
    if (o.count("port")) opt.port = static_cast<uint16_t>(std::stoi(o["port"]));
    if (o.count("frames-log")) opt.framesLog = o["frames-log"];
    if (o.count("control-port")) {
        opt.controlPort = true;
        opt.controlPortNumber = static_cast<uint16_t>(std::stoi(o["control-port"]));
    }
    pabxsim::Simulator sim(scenario, opt);
    sim.Start();
    std::cout << "pabx-sim: listening on " << opt.bindAddress << ":" << sim.Port();
    if (opt.controlPort) std::cout << ", control on port " << sim.ControlPort();
    std::cout << std::endl;
    if (o.count("port-file")) {
        std::ofstream f(o["port-file"]);
        f << sim.Port() << "\n";
        if (opt.controlPort) f << sim.ControlPort() << "\n";
    }
    int sig = 0;
    sigwait(&set, &sig);
    sim.Stop();
    return 0;
}

int MakeRecordings(std::map<std::string, std::string>& o) {
    if (!o.count("store") || !o.count("count")) return Usage();
    uint32_t seed = o.count("seed") ? static_cast<uint32_t>(std::stoul(o["seed"])) : 1;
    auto s = pabxsim::MakeRecordings(o["store"], std::stoi(o["count"]), seed);
    std::cout << "pabx-sim: " << s.wavFiles.size() << " WAV and " << s.xmlFiles.size()
              << " XML files (" << s.pairs << " pairs, " << s.emptyWav << " empty WAV, "
              << s.xmlOnly << " XML only, " << s.wavOnly << " WAV only, " << s.noAudioElement
              << " without <audio>, " << s.audioNotSim << " audio not \"sim\")\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    std::map<std::string, std::string> opts;
    if (!ParseOptions(argc, argv, opts)) return Usage();
    std::string cmd = argv[1];
    try {
        if (cmd == "serve") return Serve(opts);
        if (cmd == "make-recordings") return MakeRecordings(opts);
    } catch (const std::exception& e) {
        std::cerr << "pabx-sim: " << e.what() << "\n";
        return 1;
    }
    return Usage();
}
