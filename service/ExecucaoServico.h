#pragma once
// The recording service's run as a process: the instance lock, the stop
// signals, the start, the pid file, the main loop and the end of the process.
// Called once by pelmoran's main on its main thread (the service thread).

#include <functional>
#include <string>

class TServicoVeruzaduQuv;

// Runs the service of program folder `pasta` until it is stopped; gives the
// process's exit code: 0 after a stop, 1 when it could not start or failed, 3
// when the loop ended by itself (a restore that cannot run). When workers
// outlive the stop's deadline it ends the process itself (after the history
// row 102) without destroying what they may still use.
// `aposInicio` (tests) runs on the service after a successful start.
int ExecutaServico(const std::string& pasta,
                   const std::function<void(TServicoVeruzaduQuv&)>& aposInicio = {});
