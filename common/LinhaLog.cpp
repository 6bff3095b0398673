#include "common/LinhaLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

std::string LinhaLog(const DataHora& quando, std::string_view texto) {
    std::string linha = FormataDataHora(quando, "dd/mm/yy hh:nn:ss zzz");
    linha += "  ";
    for (char c : texto) linha += (c == '\r' || c == '\n') ? ' ' : c;
    linha += "\r\n";
    return linha;
}

bool AcrescentaAoArquivo(const std::filesystem::path& arquivo, std::string_view linha) {
    const int fd = ::open(arquivo.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
    if (fd < 0) return false;
    std::size_t feito = 0;
    bool ok = true;
    while (feito < linha.size()) {
        const ssize_t n = ::write(fd, linha.data() + feito, linha.size() - feito);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        feito += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    return ok;
}
