// Filing of one recording and the encrypted recording files. Not built yet:
// every member reports failure.

#include "service/download/PABXDownloadFTP.h"

int TPABXDownloadFTP::BDRegistraGravacao(TPABX&, const std::string&, const std::string&) {
    return 7;
}

bool TPABXDownloadFTP::CriptografaArquivo(const std::string&, const std::string&) { return false; }

bool TPABXDownloadFTP::DescriptografaArquivo(int, const std::string&, const std::string&) {
    return false;
}

std::string TPABXDownloadFTP::ExtensaoTipoArquivo(int) { return {}; }
