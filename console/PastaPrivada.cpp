#include "console/PastaPrivada.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

PastaPrivada::PastaPrivada(std::string prefixo) : prefixo_(std::move(prefixo)) {}

PastaPrivada::~PastaPrivada() { Remove(); }

const fs::path& PastaPrivada::Caminho() {
    if (!caminho_.empty()) {
        struct stat st {};
        // Still ours: a folder of this user that nobody else may enter.
        if (::lstat(caminho_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid())
            return caminho_;
        caminho_.clear();
    }
    fs::path base;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    if (runtime && *runtime && fs::is_directory(runtime, ec))
        base = runtime;
    else
        base = fs::temp_directory_path(ec);
    if (base.empty()) base = "/tmp";
    std::string modelo = (base / (prefixo_ + "XXXXXX")).string();
    if (!::mkdtemp(modelo.data()))  // mkdtemp makes it 0700
        throw std::runtime_error("Não foi possível criar a pasta temporária em " + base.string() +
                                 ": " + std::strerror(errno));
    caminho_ = modelo;
    return caminho_;
}

void PastaPrivada::Esvazia() noexcept {
    if (caminho_.empty()) return;
    std::error_code ec;
    for (fs::directory_iterator it(caminho_, ec), fim; !ec && it != fim; it.increment(ec)) {
        std::error_code ec2;
        fs::remove_all(it->path(), ec2);
    }
}

void PastaPrivada::Remove() noexcept {
    if (caminho_.empty()) return;
    std::error_code ec;
    fs::remove_all(caminho_, ec);
    caminho_.clear();
}
