// FTP download of the recording store and USB copy, with the path and file
// helpers the run's areas share. Not built yet: every member reports failure
// or does nothing.

#include "service/download/PABXDownloadFTP.h"

bool TPABXDownloadFTP::DownloadFTP() { return false; }

bool TPABXDownloadFTP::BaixaPastaFTP(ClienteFTP&, const std::string&, bool&, const std::string&) {
    return false;
}

std::int64_t TPABXDownloadFTP::CalculaTamanhoFTP(ClienteFTP&, const std::string&) { return 0; }

bool TPABXDownloadFTP::DentroDoPeriodo() const { return false; }

void TPABXDownloadFTP::CopiaPasta(const std::string&, const std::string&) {}

std::int64_t TPABXDownloadFTP::TamanhoPasta(const std::string&) { return 0; }

std::string TPABXDownloadFTP::RetiraParteCaminho(const std::string&, int) { return {}; }

void TPABXDownloadFTP::BuscaArquivos(std::vector<std::string>&, const std::string&,
                                     const std::string&, bool) {}

int TPABXDownloadFTP::Minimo(int a, int b) { return a < b ? a : b; }
